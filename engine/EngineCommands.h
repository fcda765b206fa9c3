#pragma once

#include "engine/EngineChannel.h"
#include "engine/ZipEngineRecords.h"

namespace ZipEngine
{

constexpr int32_t Version = 179;
constexpr int32_t PrivVersion = 1790001;

// Both run one command whose record has passed the common checks; they return the status.
int32_t addFromMemory(const ZipCommandRecord& record, EngineChannel& channel);
int32_t extractToMemory(const UnzipCommandRecord& record, EngineChannel& channel);

} // namespace ZipEngine
