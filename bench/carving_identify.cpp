// Carving throughput: identification of 1 GiB of random and of zero sectors, and a carve-and-size
// pass over a 1 GiB image of the committed samples (page cache warm). Prints MB/s.
#include "carving/CFileTypeRecovery.h"
#include "device/CDiskReader.h"
#include "device/CDiskRegistry.h"
#include "formats/carving/CFileTypeJudge.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t SECTOR_BYTES = 512;
constexpr uint64_t GIB = 1ull << 30;
constexpr size_t POOL_BYTES = 64ull << 20;
constexpr int CHUNK_SECTORS = 128;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double MegabytesPerSecond(uint64_t u64Bytes, double dSeconds) {
    return double(u64Bytes) / 1e6 / dSeconds;
}

// Identifies every sector of a 64 MiB pool until 1 GiB has been looked at.
void BenchIdentify(const char* pLabel, const std::vector<uint8_t>& pool) {
    uint64_t u64Found = 0;
    Clock::time_point start = Clock::now();
    for (uint64_t u64Done = 0; u64Done < GIB; u64Done += pool.size()) {
        for (size_t off = 0; off < pool.size(); off += SECTOR_BYTES)
            u64Found +=
                CFileTypeJudge::GetDataBufType(pool.data() + off, SECTOR_BYTES) != FILE_TYPE_NONE;
    }
    const double dSeconds = SecondsSince(start);
    std::printf("GetDataBufType %-7s 1 GiB: %8.0f MB/s  (%llu sectors recognised)\n", pLabel,
                MegabytesPerSecond(GIB, dSeconds), static_cast<unsigned long long>(u64Found));
}

std::string SamplesDir() {
    std::filesystem::path source(__FILE__);
    return (source.parent_path().parent_path() / "tests" / "data" / "samples").string();
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

// Samples one after another on sector boundaries, each followed by a few random sectors,
// repeated until the image holds 1 GiB.
uint64_t WriteSampleImage(const std::string& strPath, uint64_t& u64Placed) {
    std::vector<std::vector<uint8_t>> vecSamples;
    for (const auto& entry : std::filesystem::directory_iterator(SamplesDir()))
        vecSamples.push_back(ReadAll(entry.path()));
    std::mt19937 rng(1);
    std::vector<uint8_t> noise(16 * SECTOR_BYTES);
    for (uint8_t& b : noise)
        b = uint8_t(rng());
    std::ofstream image(strPath, std::ios::binary | std::ios::trunc);
    uint64_t u64Written = 0;
    u64Placed = 0;
    while (u64Written < GIB) {
        for (const std::vector<uint8_t>& sample : vecSamples) {
            std::vector<uint8_t> padded(sample);
            padded.resize((padded.size() + SECTOR_BYTES - 1) / SECTOR_BYTES * SECTOR_BYTES, 0);
            const size_t nGap = (1 + rng() % 8) * SECTOR_BYTES;
            image.write(reinterpret_cast<const char*>(padded.data()), padded.size());
            image.write(reinterpret_cast<const char*>(noise.data()), nGap);
            u64Written += padded.size() + nGap;
            ++u64Placed;
        }
    }
    return u64Written / SECTOR_BYTES;
}

// The deep scan's walk: 64 KiB chunks, every sector offered unless a carved file skips it.
void BenchCarve(const std::string& strImage, uint64_t u64Sectors, uint64_t u64Placed) {
    const int nDisk = CDiskRegistry::GetInstance().AddImage(strImage);
    CDiskReader reader;
    CFileTypeRecovery engine;
    if (nDisk < 0 || reader.Init(nDisk, u64Sectors) != 0 ||
        engine.Init(nDisk, 0, static_cast<long long>(u64Sectors), u'C') != 0) {
        std::printf("carve: cannot open the image\n");
        return;
    }
    std::vector<uint8_t> chunk(CHUNK_SECTORS * SECTOR_BYTES);
    auto walk = [&](bool bCarve) {
        unsigned long long u64Files = 0;
        for (uint64_t u64Sector = 0; u64Sector < u64Sectors;) {
            const int nCount = int(std::min<uint64_t>(CHUNK_SECTORS, u64Sectors - u64Sector));
            unsigned int nRead = 0;
            if (reader.ReadData(chunk.data(), nCount, (long long)u64Sector, SECTOR_BYTES, &nRead) !=
                0)
                break;
            uint64_t i = 0;
            while (bCarve && i < uint64_t(nCount)) {
                unsigned long long u64Skip = 0;
                int nResult = engine.ParseFileBuf(chunk.data() + i * SECTOR_BYTES, SECTOR_BYTES,
                                                  u64Sector + i, u64Sector + i, u64Sectors, 0,
                                                  &reader, SECTOR_BYTES, u64Skip, u64Files);
                i += nResult == 0 ? u64Skip : 1;
            }
            u64Sector += bCarve ? i : uint64_t(nCount);
        }
        return u64Files;
    };
    walk(false); // warms the page cache
    Clock::time_point start = Clock::now();
    const unsigned long long u64Files = walk(true);
    const double dSeconds = SecondsSince(start);
    std::printf("carve+size sample image  1 GiB: %8.0f MB/s  (%llu files carved, %llu placed)\n",
                MegabytesPerSecond(u64Sectors * SECTOR_BYTES, dSeconds), u64Files,
                static_cast<unsigned long long>(u64Placed));
}

} // namespace

int main() {
    std::vector<uint8_t> pool(POOL_BYTES);
    std::mt19937_64 rng(7);
    for (size_t i = 0; i < pool.size(); i += 8) {
        const uint64_t u64Value = rng();
        std::copy_n(reinterpret_cast<const uint8_t*>(&u64Value), 8, pool.data() + i);
    }
    BenchIdentify("random", pool);
    std::fill(pool.begin(), pool.end(), 0);
    BenchIdentify("zero", pool);

    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("orvanne-bench-carving-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("ORVANNE_SCANLOG_DIR", (dir / "log").c_str(), 1);
    const std::string strImage = (dir / "samples.img").string();
    uint64_t u64Placed = 0;
    const uint64_t u64Sectors = WriteSampleImage(strImage, u64Placed);
    BenchCarve(strImage, u64Sectors, u64Placed);
    std::filesystem::remove_all(dir);
    return 0;
}
