#include "registry_text.h"

#include <cstdlib>

#include "ksn_errors.h"

namespace ksn {
namespace {

// Takes the text up to the next line break off the front of `rest`.
bool TakeLine(std::string* rest, std::string* line) {
  const std::size_t end = rest->find('\n');
  if (end == std::string::npos)
    return false;
  *line = rest->substr(0, end);
  rest->erase(0, end + 1);
  return true;
}

}  // namespace

std::string FormatRequest(const RegistryRequest& request) {
  std::string text = request.is_set ? "set\n" : "get\n";
  text += request.path + "\n" + request.key;
  if (request.is_set)
    text += "\n" + request.value;
  return text;
}

bool ParseRequest(const char* data, std::size_t length, RegistryRequest* request) {
  std::string rest(data, length);
  std::string op;
  if (!TakeLine(&rest, &op) || !TakeLine(&rest, &request->path) || request->path.empty())
    return false;
  request->is_set = op == "set";
  if (op == "get") {
    request->key = rest;
    return true;
  }
  if (op != "set" || !TakeLine(&rest, &request->key))
    return false;
  request->value = rest;
  return true;
}

std::string FormatReply(const RegistryReply& reply) {
  if (reply.ok)
    return "ok\n" + reply.text;
  return "error\n" + std::to_string(reply.code) + "\n" + reply.text;
}

RegistryReply ParseReply(const char* data, std::size_t length) {
  std::string rest(data, length);
  std::string status;
  std::string code;
  if (TakeLine(&rest, &status)) {
    if (status == "ok")
      return {true, 0, rest};
    if (status == "error" && TakeLine(&rest, &code))
      return {false, static_cast<std::int32_t>(std::strtol(code.c_str(), nullptr, 10)), rest};
  }
  return {false, kBadRequest, "unreadable reply"};
}

std::string FormatListing(const PeerListing& listing) {
  std::string text = "member " + listing.member + "\nhost " + listing.host + "\npid " +
                     std::to_string(listing.pid) + "\n";
  for (const std::string& path : listing.objects)
    text += "object " + path + "\n";
  return text;
}

bool ParseListing(const char* data, std::size_t length, PeerListing* listing) {
  std::string rest(data, length);
  std::string line;
  while (TakeLine(&rest, &line)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos)
      return false;
    const std::string field = line.substr(0, space);
    const std::string value = line.substr(space + 1);
    if (field == "member")
      listing->member = value;
    else if (field == "host")
      listing->host = value;
    else if (field == "pid")
      listing->pid = std::strtol(value.c_str(), nullptr, 10);
    else if (field == "object")
      listing->objects.push_back(value);
  }
  return !listing->member.empty();
}

std::string PrintableText(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {
      ++i;  // a C1 control in UTF-8 (CSI and OSC among them)
      continue;
    }
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f)
      continue;
    shown.push_back(static_cast<char>(c));
  }
  return shown;
}

}  // namespace ksn
