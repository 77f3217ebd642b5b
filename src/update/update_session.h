// UpdateSession: everything one update run works on, owned in one place instead of as
// process-wide records, so that tests (and a later batch mode) can run independent
// sessions side by side.
//
// A front end keeps one session for as long as its window lives: the XPort records, the
// device identity and OverrideFlag outlast a run and the next run replaces or clears them.
// Only the worker thread of a run touches a session.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>

#include "image/image_set.h"
#include "link/boot_protocol.h"
#include "link/device_link.h"
#include "panel/dialog_host.h"
#include "panel/operator_panel.h"
#include "platform/clock.h"
#include "xport/query_client.h"
#include "xport/saved_records.h"
#include "xport/shared_buffers.h"

namespace update {

// The four 2,000 ms steps while the XPort restarts after a new record.
inline constexpr int kXPortStepMs = 2000;

// Where a run stands, for a view of many runs at once. Written by the run's worker only.
enum class Stage {
  Idle,
  Preparing,
  XPort,
  Linked,
  Identified,
  Writing,
  Verifying,
  Leaving,
  CleanUp
};

// What the question before the writing is made of: the text the owner is asked, and the
// pieces a batch lists in its one question instead.
struct Confirmation {
  std::string text;
  std::string caption;
  std::string mac;          // as in the text (FormatMacAddress)
  std::string model;        // "Model:KT-21"
  std::string versionText;  // "Ver:  12 ->   13"
  std::string caution;      // with its surrounding line ends, as in the text
};

// What the last run came to, beyond its result: filled as it goes, read by reports.
struct RunFacts {
  bool macRead = false;        // XPortInfo came from this run
  bool overridden = false;     // the XPort took this run's override record
  bool identified = false;     // Identify succeeded
  bool confirmed = false;      // the question was answered Yes
  bool writeStarted = false;   // the version block was cleared: version 0 unless completed
  bool xportRestored = false;  // the XPort took its own record back
  bool stopped = false;        // a stop request ended the run early
};

class UpdateSession {
 public:
  UpdateSession(panel::DialogHost& ownerHost, platform::Sleeper& sleeperRef)
      : owner(ownerHost),
        sleeper(sleeperRef),
        xport(ownerHost, shared),
        link(ownerHost, shared, xport),
        protocol(link, shared, images, sleeperRef),
        panel(ownerHost) {}
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  panel::DialogHost& owner;
  platform::Sleeper& sleeper;
  xport::SharedBuffers shared;
  image::ImageSet images;
  xport::QueryClient xport;
  device::DeviceLink link;
  device::BootProtocol protocol;
  panel::OperatorPanel panel;
  // 1 while the XPort carries this run's override record; the clean-up restores then.
  bool OverrideFlag = false;
  // Where the XPort's original record is kept while it is overridden (tests point it at
  // a folder of their own).
  xport::SavedRecords savedRecords;
  std::filesystem::path savedRecordPath;  // this run's saved record, empty when none

  // The question before the writing. Empty: AskYesNo on the owner. A batch gathers every
  // device's question into one; the function blocks until that one is answered.
  std::function<bool(const Confirmation&)> confirm;
  // Set from any thread: the run stops at its next block and runs its clean-up (leave
  // command where the link stands, XPort restore where overridden). Null: never.
  const std::atomic<bool>* stopRequest = nullptr;
  bool StopRequested() const {
    return stopRequest != nullptr && stopRequest->load(std::memory_order_relaxed);
  }

  RunFacts facts;
  // Read from any thread (a live view); written by the run.
  std::atomic<Stage> stage{Stage::Idle};
};

}  // namespace update
