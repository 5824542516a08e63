// Helpers of the exFAT engine tests: recovery checked by SHA-256 against the bytes put in.
#pragma once

#include "engine/IFileRecoveryParse.h"
#include "fixtures/EngineQueries.h"
#include "fixtures/ExFatImageBuilder.h"
#include "fixtures/FixtureUtil.h"

#include <string>

// SHA-256 of a node's data recovered into a new file under the folder, or "" on failure.
std::string RecoverSha256(IFileRecoveryParse& engine, FILE_NODE node, const std::string& strDir);
