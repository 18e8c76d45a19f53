#pragma once
// The driver's own parameters: the server's port and transport, the log switch
// and log file, and the firmware file. The automation object reads them once
// at initialisation and writes them when the host saves the parameters; the
// driver core copies what it needs.
#include <cstdint>
#include <string>
#include <vector>

#include "mirelo/vistel_protocol.h"

namespace mirelo {

class Registry;

struct TDriverParams {
  static constexpr int32_t DefaultServerPort = 2004;
  static constexpr TProtocol DefaultServerProtocol = ptTCP;

  std::string SoftFileName;  // the firmware file UpdateSoft loads
  int32_t ServerPort = DefaultServerPort;
  TProtocol ServerProtocol = DefaultServerProtocol;
  bool LogEnabled = false;
  // The caller sets the default, defaultLogFileName(), before reading.
  std::string LogFileName;
};

// Applies the stored values over params, which holds the defaults. A missing
// key or value leaves the default; a ServerProtocol other than 0 or 1 is
// ignored; a value of the wrong type is skipped and the others are still read
// (stopping there would let the next save overwrite them with defaults).
// Returns the names of the values skipped for their type. A failure of the
// store itself raises ERegistryError.
std::vector<std::string> ReadParams(Registry& registry, TDriverParams& params);

// Stores all five values, creating the key when missing, in one registry
// transaction: either all are written or the old ones stay. Any failure,
// including one to create the key, raises ERegistryError.
void WriteParams(Registry& registry, const TDriverParams& params);

// Writes only the values of params that differ from before (what was read or
// last written), in one registry transaction; nothing at all when none
// differs, so that another process's change of another value survives.
void WriteParamChanges(Registry& registry, const TDriverParams& params,
                       const TDriverParams& before);

// The driver library's full path with its extension changed to ".log", as
// Windows-1251 text.
std::string defaultLogFileName();

}  // namespace mirelo
