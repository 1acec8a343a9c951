#include "served_content.h"

#include "base/byte_order.h"

std::shared_ptr<const ServedContent> MakeServedContent(const RateTable& rates, const std::optional<UpdateOffer>& offer,
                                                       std::shared_ptr<const PrivateFile> fileCopy,
                                                       const std::optional<RatesRecordBytes>& signedRates) {
  auto content = std::make_shared<ServedContent>();
  content->signedRates = signedRates;
  EncodeRateTable(rates, content->rates);
  StoreFloat(content->version.data(), offer ? offer->version : CLIENT_VERSION);
  content->file = offer && offer->file ? offer->file : std::make_shared<const std::vector<std::uint8_t>>();
  if (offer) content->fileCopy = std::move(fileCopy);
  StoreI32(content->size.data(), static_cast<std::int32_t>(content->file->size()));
  return content;
}

Answer AnswerRequest(std::span<const std::uint8_t, REQUEST_BYTES> request, const ServedContent& content) {
  Answer answer;
  answer.command = LoadI32(request.data());
  const std::int32_t argument = LoadI32(request.data() + 4);
  // The client sends exactly these requests; anything else is not ours to guess at.
  switch (answer.command) {
    case CMD_GET_RATES:
      answer.valid = argument == 1;
      answer.bytes = content.rates;
      break;
    case CMD_GET_UPDATE_FILE:
      answer.valid = argument == 0;
      answer.bytes = *content.file;
      break;
    case CMD_GET_VERSION:
      answer.valid = argument == 1;
      answer.bytes = content.version;
      break;
    case CMD_GET_UPDATE_SIZE:
      answer.valid = argument == 1;
      answer.bytes = content.size;
      break;
    case CMD_GET_SIGNED_RATES:
      answer.valid = argument == 1 && content.signedRates.has_value();
      if (answer.valid) answer.bytes = *content.signedRates;
      break;
    default:
      break;
  }
  if (!answer.valid) answer.bytes = {};
  return answer;
}
