// The table calls of the host's table objects, over our own engine
// (cau::xbase::Table). Handles are owned underneath: the engine owns its
// open tables, a table owns its tags and fields; callers hold plain
// non-owning pointers, which stay valid until d4close / code4initUndo.
//
// Texts are UTF-8 here and Windows-1252 in the files. Results follow the
// usual convention: 0 success, r4bof / r4eof at the ends, a negative code on
// error with the message in code4errorText().
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cau::db {

inline constexpr int r4success = 0;
inline constexpr int r4bof = 2;
inline constexpr int r4eof = 3;
inline constexpr int r4uniqueContinue = 25;  // duplicate keys are left out silently

inline constexpr int e4open = -60;      // the table (or one of its files) cannot be opened
inline constexpr int e4data = -70;      // a file is damaged or not understood
inline constexpr int e4readOnly = -80;  // the table may not be written (reason in the text)
inline constexpr int e4fieldName = -210;
inline constexpr int e4value = -220;   // a value that the field cannot hold
inline constexpr int e4write = -230;   // a write failed
inline constexpr int e4unique = -340;  // a duplicate key in a unique tag

class Code4;
class Data4;
class Tag4;
class Field4;

struct Code4Deleter {
  void operator()(Code4* engine) const;
};
using Code4Handle = std::unique_ptr<Code4, Code4Deleter>;

Code4Handle code4initP();
// Releases the engine and every table it still has open (each one flushed).
int code4initUndo(Code4Handle& engine);
// e4unique (-340): a duplicate key in a unique tag makes the write fail;
// r4uniqueContinue: the tag keeps its first record silently. Returns the old setting.
int code4errDefaultUnique(Code4& engine, int setting);
// 0: d4field of a missing name is no error (null handle, no message).
int code4errFieldName(Code4& engine, int setting);
// The code and message of the last failure of any call on this engine
// (d4open: missing, damaged, missing index, ...).
int code4errorCode(const Code4& engine);
const std::string& code4errorText(const Code4& engine);
// Forgets the last failure (code 0, empty text), so that a call that reports
// failure only through the engine (f4memoStr) can be checked.
void code4errorClear(Code4& engine);

// Opens the table at `path` (found without regard to case) with its memo
// file and structural index. Null when it cannot be opened (see code4errorText).
Data4* d4open(Code4& engine, std::string_view path);
// Whether the table opened read-only, and why (a tag the engine cannot
// maintain, no write permission); every write call then fails with e4readOnly.
bool d4readOnly(const Data4* table);
std::string d4readOnlyReason(const Data4* table);
int d4close(Data4* table);

Tag4* d4tag(Data4* table, std::string_view name);  // null when there is no such tag
int d4tagSelectP(Data4* table, Tag4* tag);         // null: record order

int d4goBof(Data4* table);  // top in the selected order; r4eof on an empty table
int d4skip(Data4* table, long n);
int d4eof(Data4* table);  // 1 past the last record
long d4recCountDo(Data4* table);
long d4recNo(Data4* table);
// Makes record `recno` current, at its place in the selected tag (so that
// d4skip goes on from there); 0 or past the last record: end of file. A
// changed current record is written first.
int d4go(Data4* table, long recno);

// Reading records without moving, for lookups that keep their own map of a
// table. The bytes are those in the file: a pending change of the current
// record is not in them.
//
// The current record's bytes as the field calls see them (pending changes
// included); valid until the next call on the table.
std::string_view d4record(Data4* table);
// Record `recno`; false when the table has no such record.
bool d4readRecord(Data4* table, long recno, std::string& bytes);
// Records `from` to the last one, in record order, read in large blocks
// straight from the file (no cache is filled); `visit` gets each record's
// number and bytes. Returns the number of the last record visited (from - 1
// when none), or a negative code when the file cannot be read.
long d4readRecords(Data4* table, long from,
                   const std::function<void(long recno, std::string_view bytes)>& visit);
// Of `records`, those the selected tag holds (its FOR clause true, the entry
// present), in the tag's order; record order when no tag is selected.
std::vector<long> d4tagOrder(Data4* table, std::vector<long> records);

// Every record the selected tag holds, in its order, read from the index
// alone (record order when no tag is selected): the records a walk from
// d4goBof meets. 0, or a negative code when the index cannot be read.
int d4tagRecords(Data4* table, std::vector<long>& records);

Field4* d4field(Data4* table, std::string_view name);
// The field's type letter ('C', 'N', 'L', ...); 0 for a null handle.
char f4type(Field4* field);
long f4int(Field4* field);
int f4assignInt(Field4* field, long value);
std::string f4str(Field4* field);  // the whole field, blank-padded
// f4int and f4str on the bytes of a record of the field's table.
long f4intOf(Field4* field, std::string_view record);
std::string f4strOf(Field4* field, std::string_view record);
// The field's bytes in a record, Windows-1252 as stored ("" for a null handle).
std::string_view f4rawOf(Field4* field, std::string_view record);
int f4assign(Field4* field, std::string_view text);
int f4true(Field4* field);
int f4assignChar(Field4* field, char32_t character);
std::string f4memoStr(Field4* field);
int f4memoAssign(Field4* field, std::string_view text);

// Starts a new record: a copy of the current one (memos empty unless
// `useMemoEntries`). 0 when it may be filled.
int d4appendStart(Data4* table, int useMemoEntries);
int d4blank(Data4* table);
int d4append(Data4* table);  // 0 when added; the new record becomes current
int d4delete(Data4* table);
int d4flush(Data4* table);

}  // namespace cau::db
