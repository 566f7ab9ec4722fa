// What a signer's time stamp proves: RFC 3161 tokens and legacy Authenticode countersignatures,
// each checked here in full, since not every system checks them (Wine verifies neither).
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <optional>
#include <string>

namespace brimo {

// The stamped time when the stamp is sound, else why it is not used (empty when there is none).
struct TimeStampVerdict {
  std::optional<FILETIME> time;
  std::wstring unused;
};

// The time stamp of signer, whose certificates are in store, judged at now. A stamp counts when its
// signature holds over what it says, its certificate itself lists time stamping and chains to a
// trusted root for it at the stamped time, what it stamps is this signer's signature, and its time
// is not later than now plus a few minutes of clock skew.
TimeStampVerdict SignerTimeStamp(const CMSG_SIGNER_INFO& signer, HCERTSTORE store, const FILETIME& now);

// "2026-12-10 10:00:00 UTC".
std::wstring UtcText(const FILETIME& time);

}  // namespace brimo
