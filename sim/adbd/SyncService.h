#pragma once

#include <cstdint>
#include <string>

// adb's file service ("sync:"), run inside the device so that every path resolves through the
// device's own mounts. Requests and responses are 8-byte headers (four ASCII letters, a
// little-endian 32-bit length) and what the length announces:
//
//   STAT <len><path>            -> STAT <mode><size><mtime>      (lstat; all zero when missing)
//   LIST <len><path>            -> DENT <mode><size><mtime><namelen><name> … DONE <0><0><0><0>
//   SEND <len><path,mode>, then DATA <len><bytes> … DONE <mtime>  -> OKAY <0> | FAIL <len><text>
//   RECV <len><path>            -> DATA <len><bytes> … DONE <0>  | FAIL <len><text>
//   QUIT <0>                    ends the service
//
// A path longer than maxPathBytes, a DATA chunk longer than maxDataBytes or an unknown request
// is answered with FAIL and ends the service, as adbd does.
namespace SyncService {

inline constexpr std::uint32_t maxPathBytes = 1024;
inline constexpr std::uint32_t maxDataBytes = 64 * 1024;

// Serves requests read from `in`, answering on `out`, until QUIT, end of input or a refused
// request. Returns the process exit status (0 after QUIT or end of input).
int serve(int in, int out);

} // namespace SyncService
