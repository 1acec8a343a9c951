#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "net/protocol.h"
#include "net/rates_record.h"
#include "rates/currency.h"

class PrivateFile;

// An update that the service offers: the version clients compare with their own and the
// library's bytes. Size and bytes always come from this one copy, so they agree.
struct UpdateOffer {
  float version = CLIENT_VERSION;
  std::shared_ptr<const std::vector<std::uint8_t>> file;
};

// Everything the service answers with, encoded once per change rather than per request. A
// connection holds the content it started with, so a reload never changes a reply half-way.
struct ServedContent {
  std::array<std::uint8_t, RATES_REPLY_BYTES> rates{};
  std::array<std::uint8_t, VERSION_REPLY_BYTES> version{};
  std::array<std::uint8_t, SIZE_REPLY_BYTES> size{};
  std::shared_ptr<const std::vector<std::uint8_t>> file;  // never null; empty without an offer
  std::shared_ptr<const PrivateFile> fileCopy;  // the same bytes as `file`, for sending without a copy; may be null
  std::optional<RatesRecordBytes> signedRates;  // without a rates key, none: the command is closed
};

// Without an offer the version is CLIENT_VERSION, so that clients never ask for a file.
// `fileCopy`, when given, holds the offer's bytes; `signedRates`, the record of the same rates.
std::shared_ptr<const ServedContent> MakeServedContent(const RateTable& rates, const std::optional<UpdateOffer>& offer,
                                                       std::shared_ptr<const PrivateFile> fileCopy = nullptr,
                                                       const std::optional<RatesRecordBytes>& signedRates = {});

// What to send for one 8-byte request: the reply bytes (inside `content`), after which the
// service closes the connection. An invalid request, any command or argument other than the
// client's five (the signed rates only from a service with a rates key), gets no reply at all: `valid` is false and the
// connection is closed.
struct Answer {
  bool valid = false;
  std::int32_t command = 0;
  std::span<const std::uint8_t> bytes;
};

Answer AnswerRequest(std::span<const std::uint8_t, REQUEST_BYTES> request, const ServedContent& content);
