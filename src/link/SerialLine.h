#pragma once

namespace kelvora {

// The sensor's line settings on an open terminal: 115200 8N1 raw, no flow
// control, no parity check, no processing, so the bytes pass as they are.
// False when the terminal refuses them.
bool configureSensorLine(int fd);

} // namespace kelvora
