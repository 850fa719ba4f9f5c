// The main job: a private NATS server (unless KSN_NATS_URL names one), two
// peer processes in one new conference, their progress relayed, and a
// verdict: exit 0 only when video flowed both ways.
#pragma once

#include "peer_run.h"

namespace videoconf_app {

// `options` as each peer gets them (name and cid are set here). With
// `one_way`, B opens no camera and only A's video flows.
int RunCall(const PeerOptions& options, bool one_way);

}  // namespace videoconf_app
