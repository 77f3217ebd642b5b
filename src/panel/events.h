// What a run tells the world, as values: the core reports every step through one
// RunObserver, and each front end turns the events into what its operator sees (a dialog's
// controls, console lines, a batch's live view, a report's record). No event names a
// control, and no text is made before it reaches the edge: a notice is a catalog key and
// its arguments, rendered in the reader's language.
//
// Thread notes: a run calls its observer from the run's own thread only. OnQuestion blocks
// that thread until the question is answered.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "panel/device_identity.h"
#include "panel/text_catalog.h"

namespace panel {

// Where a run stands: one enum for a single run, a batch's live view and its report.
enum class Stage {
  Queued,       // a batch's device whose turn has not come
  Preparing,    // the run has begun; its inputs are taken
  XPort,        // the XPort queries and, where needed, the change of its settings
  Identifying,  // the link to the device and the identify exchange
  Awaiting,     // identified; waiting for the operator's answer
  Writing,      // the version block cleared, the single blocks and the bulk range
  Verifying,
  Leaving,      // the leave command
  CleanUp,      // link closed, the XPort's settings restored
  Done,
};

// The stage as a live view names it.
TextId StageText(Stage stage);

enum class NoticeStyle { Plain, Warning, Error };

// A notice's caption: the catalog's three, the program's name, or none.
enum class Caption { None, Error, Confirm, Caution, Program };
const char* CaptionText(Caption caption);

// A catalog text with the values of its "%s", in order; an argument that is itself a
// catalog text is rendered in the same language.
using TextArg = std::variant<std::string, TextId>;
struct Message {
  TextId id = TextId::Count;
  std::vector<TextArg> args{};
  bool operator==(const Message&) const = default;
};
std::string Render(const Message& message);
std::string Render(const Message& message, Language language);

// The events, in the order a run raises them.
struct StageChanged {
  Stage stage;
};
// The status line: the catalog text, then `dots` dots (the XPort restarting), then the
// count of echoed bytes when it is not negative ("<Writing> 8").
struct StatusChanged {
  TextId id;
  int dots = 0;
  int echoed = -1;
};
// The progress bar: a new pass from 0 to total in steps of step; one step; a position.
struct ProgressReset {
  int total;
  int step;
};
struct ProgressStepped {};
struct ProgressSet {
  int pos;
};
struct IdentityShown {
  device::DeviceIdentity identity;
};
struct IdentityCleared {};
// "Ver:  12 ->   13", with " <written>" or " <not written>" after it once the run knows.
struct VersionLineChanged {
  enum class Mark { None, Written, NotWritten };
  int before;
  int after;
  Mark mark = Mark::None;
};
// The port the run connects to replaces what the operator typed (none was typed, or the
// operator chose the XPort's own).
struct PortReplaced {
  int port;
};
struct NoticeRaised {
  Message message;
  Caption caption = Caption::Error;
  NoticeStyle style = NoticeStyle::Plain;
};

using Event = std::variant<StageChanged, StatusChanged, ProgressReset, ProgressStepped, ProgressSet,
                           IdentityShown, IdentityCleared, VersionLineChanged, PortReplaced,
                           NoticeRaised>;

// A question to the operator; Yes and No, No preselected. Its message's key says which
// question it is.
struct Question {
  Message message;
  Caption caption = Caption::Confirm;
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void OnEvent(const Event& event) = 0;
  // True only for Yes.
  virtual bool OnQuestion(const Question& question) = 0;
};

// An observer that sees nothing and answers No (a run nobody watches).
class NoObserver final : public RunObserver {
 public:
  void OnEvent(const Event&) override {}
  bool OnQuestion(const Question&) override { return false; }
};

// "Ver:%4d": the number right-aligned in at least four characters.
std::string FormatVersion(int version);
// "Ver:%4d -> %4d" and its mark, as the version line shows it.
std::string VersionLineText(const VersionLineChanged& line);

}  // namespace panel
