// The records of one drain, gathered for the sinks.
#include "output/record_batch.h"

#include <cstdlib>
#include <cstring>

RecordBatch* NewRecordBatch() {
    // Pages not touched yet cost no memory: a batch of short lines uses a few of them.
    RecordBatch* batch = static_cast<RecordBatch*>(malloc(sizeof(RecordBatch)));
    if (batch != nullptr) ClearBatch(*batch);
    return batch;
}

void DeleteRecordBatch(RecordBatch* batch) { free(batch); }

void ClearBatch(RecordBatch& batch) {
    batch.entryCount = 0;
    batch.fileRecordCount = 0;
    batch.fileLength = 0;
    batch.sideLength = 0;
}

bool AddRecord(RecordBatch& batch, BatchEntryKind kind, uint16_t attribute, const char* prefix,
               size_t prefixLength, const char* text, size_t textLength, size_t consoleSkip,
               const char* sender, bool consoleWanted) {
    size_t length = prefixLength + textLength;
    size_t senderLength = sender != nullptr ? strlen(sender) + 1 : 0;
    if (batch.entryCount == kBatchEntries || length > kBatchFileBytes - batch.fileLength ||
        senderLength > kBatchSideBytes - batch.sideLength) {
        return false;
    }
    BatchEntry& entry = batch.entries[batch.entryCount++];
    entry.kind = kind;
    entry.attribute = attribute;
    entry.prefixLength = static_cast<uint16_t>(prefixLength);
    entry.consoleSkip = static_cast<uint16_t>(consoleSkip < textLength ? consoleSkip : textLength);
    entry.offset = batch.fileLength;
    entry.length = static_cast<uint32_t>(length);
    entry.fileRecord = batch.fileRecordCount;
    entry.sender = -1;
    entry.consoleWanted = consoleWanted;
    entry.stored = false;
    memcpy(batch.fileBytes + batch.fileLength, prefix, prefixLength);
    memcpy(batch.fileBytes + batch.fileLength + prefixLength, text, textLength);
    batch.fileLength += static_cast<uint32_t>(length);
    batch.fileEnds[batch.fileRecordCount++] = batch.fileLength;
    if (sender != nullptr) {
        entry.sender = static_cast<int32_t>(batch.sideLength);
        memcpy(batch.sideBytes + batch.sideLength, sender, senderLength);
        batch.sideLength += static_cast<uint32_t>(senderLength);
    }
    return true;
}

bool AddMessage(RecordBatch& batch, const char* text, size_t length) {
    if (batch.entryCount == kBatchEntries || length > kBatchSideBytes - batch.sideLength) return false;
    BatchEntry& entry = batch.entries[batch.entryCount++];
    entry.kind = BatchEntryKind::Message;
    entry.attribute = 0;
    entry.prefixLength = 0;
    entry.consoleSkip = 0;
    entry.offset = batch.sideLength;
    entry.length = static_cast<uint32_t>(length);
    entry.fileRecord = -1;
    entry.sender = -1;
    entry.consoleWanted = true;
    entry.stored = false;
    memcpy(batch.sideBytes + batch.sideLength, text, length);
    batch.sideLength += static_cast<uint32_t>(length);
    return true;
}
