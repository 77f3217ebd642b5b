// UpdateSession: everything one update run works on, owned in one place instead of as
// process-wide records, so that tests (and a later batch mode) can run independent
// sessions side by side.
//
// A front end keeps one session for as long as its window lives: the XPort records, the
// device identity and OverrideFlag outlast a run and the next run replaces or clears them.
// Only the worker thread of a run touches a session.
#pragma once

#include <filesystem>

#include "image/image_set.h"
#include "link/boot_protocol.h"
#include "link/device_link.h"
#include "platform/clock.h"
#include "panel/dialog_host.h"
#include "panel/operator_panel.h"
#include "xport/query_client.h"
#include "xport/saved_records.h"
#include "xport/shared_buffers.h"

namespace update {

// The four 2,000 ms steps while the XPort restarts after a new record.
inline constexpr int kXPortStepMs = 2000;

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
};

}  // namespace update
