// Crash-test hook: where a kill may cut the engine's writes, made
// deterministic. Inert unless the environment asks for it:
//   CAU_XBASE_WRITE_LOG=FILE  appends one line per engine write to FILE:
//                             its number, the file's extension, offset,
//                             size and the time (Unix, microseconds);
//   CAU_XBASE_CUT_AT=N        the process kills itself (SIGKILL) at the Nth
//                             engine write, counted over every table file;
//   CAU_XBASE_CUT_TORN=1      ...after the part of that write before its
//                             first 4 KiB file boundary, when it crosses one:
//                             the kernel checks for a fatal signal between
//                             the pages of a write, so that is how a kill can
//                             tear one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cau::xbase {

// Called before each write of `size` bytes at `offset` of file `path`: the
// number of bytes that go out before the cut (`size` when no cut comes).
// When it returns less than `size`, the caller writes that many bytes and
// then calls CutNow().
std::size_t BytesBeforeCut(std::string_view path, uint64_t offset, std::size_t size);
[[noreturn]] void CutNow();

}  // namespace cau::xbase
