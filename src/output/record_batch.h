// The records of one drain, gathered so that each sink takes them in one go: the log file's bytes
// back to back (one write), and for each entry what the console and the forwarders need. Messages
// for the console alone keep their place among the records. Allocated once; main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/record.h"

/// Most entries (records and messages) one batch holds.
constexpr int kBatchEntries = 128;
/// Room for the log file's bytes of one batch.
constexpr int kBatchFileBytes = 32 * 1024;
/// Room for the messages of one batch and the senders the forwarders get.
constexpr int kBatchSideBytes = 16 * 1024;
/// Room for the console's copy of the records that the console shows otherwise than the file
/// stores them (escaped on a terminal, or without their first bytes).
constexpr int kBatchConsoleBytes = 32 * 1024;

enum class BatchEntryKind : uint8_t {
    Line,     // a line received: counted as logged or not stored, forwarded
    Notice,   // a record of udptrail's own: to the log file and the console, not counted
    Message,  // for the console alone
};

struct BatchEntry {
    BatchEntryKind kind;
    uint16_t attribute;
    uint16_t prefixLength;  // the record's time prefix (and sender)
    uint16_t consoleSkip;   // leading bytes of the text the console leaves out
    uint32_t offset;        // where the bytes begin: in fileBytes, or for a message in sideBytes
    uint32_t length;        // the record's bytes, prefix included
    int32_t fileRecord;     // the record's index among the file's records; -1 for a message
    int32_t sender;         // the sender's text in sideBytes, or -1
    bool consoleWanted;     // no filter hides the record from the console
    bool stored;            // the log file kept the record (once the batch was written)
};

struct RecordBatch {
    int entryCount;
    int fileRecordCount;
    uint32_t fileLength;
    uint32_t sideLength;
    BatchEntry entries[kBatchEntries];
    uint32_t fileEnds[kBatchEntries];  // where each file record ends, for the partial-write settle
    char fileBytes[kBatchFileBytes];
    char sideBytes[kBatchSideBytes];
    char consoleBytes[kBatchConsoleBytes];
};

/// A new, empty batch, or nullptr when it cannot be allocated.
RecordBatch* NewRecordBatch();
void DeleteRecordBatch(RecordBatch* batch);

/// Adds a record (`prefixLength` bytes of prefix, then `textLength` bytes of text, at most
/// kTextPieceSize) with the sender the forwarders get (or nullptr), and whether the console shows
/// it; false, with nothing added, when the batch has no room for it.
bool AddRecord(RecordBatch& batch, BatchEntryKind kind, uint16_t attribute, const char* prefix,
               size_t prefixLength, const char* text, size_t textLength, size_t consoleSkip,
               const char* sender, bool consoleWanted);

/// Adds a message for the console; false, with nothing added, when the batch has no room for it.
bool AddMessage(RecordBatch& batch, const char* text, size_t length);

inline const char* EntryBytes(const RecordBatch& batch, const BatchEntry& entry) {
    return (entry.kind == BatchEntryKind::Message ? batch.sideBytes : batch.fileBytes) + entry.offset;
}

void ClearBatch(RecordBatch& batch);
