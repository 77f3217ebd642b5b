// What the identify exchange learns of a device, and the one table of the models it may
// name. It sits here, below the link that fills it and everything that shows it, so that
// none of them has to include another.
#pragma once

#include <cstdint>
#include <string>

#include "panel/text_catalog.h"

namespace device {

inline constexpr int kModelKT21 = 0x60;
inline constexpr int kModelKT40D = 0x80;
inline constexpr int kModelKT52W = 0xA0;
inline constexpr int kModelWrongDevice = 0xF0;
inline constexpr int kModelNoReply = 0xFF;

struct DeviceIdentity {
  int ModelCode = 0;
  int SubCode = 0;
  std::uint16_t ReportedVersion = 0;
  bool operator==(const DeviceIdentity&) const = default;
};

// A listed model and every spelling the texts need. The panel's model line and the
// question's have always differed for the KT-52-W; both are kept as operators know them.
struct ModelInfo {
  int code;
  const char* name;          // "KT-52-W": reports, the batch's view, history
  const char* panelLine;     // "Model:KT-52W": the dialog's model line
  const char* questionLine;  // "Model:KT-52-W": the confirmation question
  panel::TextId caution;     // the caution line of the question
};

// The model with this code; null for a code that names no listed model.
const ModelInfo* FindModel(int code);

// "40": an unlisted model code as its reason shows it, two upper-case hex digits.
std::string ModelCodeHex(int code);

}  // namespace device
