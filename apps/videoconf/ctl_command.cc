#include <cstdio>
#include <memory>

#include "commands.h"
#include "ksn_settings.h"
#include "registry_client.h"

namespace videoconf_app {
namespace {

constexpr char kManagerObject[] = "video/VideoConfManager";
constexpr int kWaitMs = 1000;

int Fail(const std::string& message) {
  std::fprintf(stderr, "videoconf ctl: %s\n", message.c_str());
  return 2;
}

// Peers' texts pass through PrintableText: a peer must not write escape
// codes to the operator's terminal.
void PrintReply(const std::string& member, const ksn::RegistryReply& reply) {
  const std::string shown_member = ksn::PrintableText(member);
  const std::string text = ksn::PrintableText(reply.text);
  if (reply.ok) {
    std::printf("%s: %s\n", shown_member.c_str(), text.c_str());
  } else {
    std::printf("%s: error %d: %s\n", shown_member.c_str(), reply.code, text.c_str());
  }
}

}  // namespace

int RunCtl(const CommandLine& line) {
  const std::vector<std::string>& words = line.words;
  const std::string verb = words.empty() ? "" : words[0];
  const bool is_get = verb == "get" && words.size() == 2;
  const bool is_set = verb == "set" && words.size() == 3;
  if (!(verb == "list" && words.size() == 1) && !is_get && !is_set) {
    return Fail("use 'ctl list', 'ctl get KEY' or 'ctl set KEY VALUE' (with --member ID)");
  }
  const ksn::KsnSettings settings = ksn::KsnSettings::FromEnvironment();
  std::string error;
  std::unique_ptr<ksn::RegistryClient> client = ksn::RegistryClient::Connect(settings, &error);
  if (!client) {
    return Fail(error);
  }
  const std::vector<ksn::PeerListing> peers = client->ListPeers(kWaitMs);
  const std::string only = line.Get("member", "");
  int asked = 0;
  for (const ksn::PeerListing& peer : peers) {
    if (!only.empty() && peer.member != only) {
      continue;
    }
    if (verb == "list") {
      std::printf("%s host %s pid %ld:", ksn::PrintableText(peer.member).c_str(),
                  ksn::PrintableText(peer.host).c_str(), peer.pid);
      for (const std::string& object : peer.objects) {
        std::printf(" %s", ksn::PrintableText(object).c_str());
      }
      std::printf("\n");
    } else if (is_get) {
      PrintReply(peer.member, client->Get(peer.member, kManagerObject, words[1], kWaitMs));
    } else {
      PrintReply(peer.member,
                 client->Set(peer.member, kManagerObject, words[1], words[2], kWaitMs));
    }
    ++asked;
  }
  if (client->forged_replies() > 0) {
    std::fprintf(stderr, "videoconf ctl: ignored %zu reply(ies) not sealed with the console key\n",
                 client->forged_replies());
  }
  if (asked == 0) {
    return Fail(only.empty() ? "no peer answered with this console key on the NATS server; is a "
                               "call running, with the same KSN_CONSOLE_KEY?"
                             : "no peer '" + only + "' answered; see 'videoconf ctl list'");
  }
  return 0;
}

}  // namespace videoconf_app
