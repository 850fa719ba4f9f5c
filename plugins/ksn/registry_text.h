// The texts of the diagnostic registry's requests and replies over NATS.
//
//   request  "get\n<path>\n<key>"  or  "set\n<path>\n<key>\n<value>"
//   reply    "ok\n<text>"          or  "error\n<code>\n<message>"
//   listing  "member <id>\nhost <name>\npid <n>\n" then "object <path>\n" per object,
//            each member's answer to a request on ksn.r.list
// Paths and keys hold no line breaks; the last field takes the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ksn {

struct RegistryRequest {
  bool is_set = false;
  std::string path;
  std::string key;
  std::string value;
};

struct RegistryReply {
  bool ok = false;
  std::int32_t code = 0;
  std::string text;
};

struct PeerListing {
  std::string member;
  std::string host;
  long pid = 0;
  std::vector<std::string> objects;
};

std::string FormatRequest(const RegistryRequest& request);
bool ParseRequest(const char* data, std::size_t length, RegistryRequest* request);

std::string FormatReply(const RegistryReply& reply);
// A text that is no reply reads as an error reply saying so.
RegistryReply ParseReply(const char* data, std::size_t length);

std::string FormatListing(const PeerListing& listing);
bool ParseListing(const char* data, std::size_t length, PeerListing* listing);

// What a peer sent, fit for a terminal: line ends kept (CR LF as LF), tabs
// kept, every other control character dropped (escape sequences lose their
// ESC, so they cannot move the cursor, retitle or recolour the terminal).
std::string PrintableText(const std::string& text);

}  // namespace ksn
