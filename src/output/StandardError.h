#pragma once

namespace kelvora {

// One line on standard error: "kelvora: ", the printf-formatted text and a
// line end, in a single write. Allocates nothing, so the receive thread may
// use it; a line longer than 1 KiB is cut.
void sayOnStandardError(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace kelvora
