// An argv for getopt_long built from a command's arguments.
#pragma once

#include <string>
#include <vector>

// getopt_long permutes the pointers; the strings stay owned here.
class CArgumentVector {
public:
    CArgumentVector(const std::string& strProgram, const std::vector<std::string>& vecArgs)
        : m_vecStrings(vecArgs) {
        m_vecStrings.insert(m_vecStrings.begin(), strProgram);
        for (std::string& strArg : m_vecStrings)
            m_vecPointers.push_back(strArg.data());
        m_vecPointers.push_back(nullptr);
    }
    int Count() const { return static_cast<int>(m_vecStrings.size()); }
    char** Data() { return m_vecPointers.data(); }

private:
    std::vector<std::string> m_vecStrings;
    std::vector<char*> m_vecPointers;
};
