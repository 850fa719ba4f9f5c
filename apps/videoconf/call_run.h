// The main job: a private NATS server (unless KSN_NATS_URL names one), two
// peer processes in one new conference, their progress relayed, and a
// verdict: exit 0 only when video flowed both ways.
#pragma once

#include "peer_run.h"

namespace videoconf_app {

// `options` as each peer gets them (name and cid are set here).
int RunCall(const PeerOptions& options);

}  // namespace videoconf_app
