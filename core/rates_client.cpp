#include "rates_client.h"

#include <array>
#include <cstdio>
#include <utility>
#include <vector>

#include "byte_order.h"
#include "file_io.h"
#include "library_contract.h"
#include "pe_image.h"
#include "update_signature.h"

const char* DescribeClientError(ClientError error) {
  switch (error) {
    case ClientError::None:
      return "no error";
    case ClientError::Unresolved:
      return "host name does not resolve";
    case ClientError::Unreachable:
      return "cannot connect";
    case ClientError::SendFailed:
      return "cannot send the request";
    case ClientError::ShortReply:
      return "short reply: the service closed the connection early";
    case ClientError::TimedOut:
      return "time-out: the service did not answer in time";
    case ClientError::ReceiveFailed:
      return "connection failed while receiving";
  }
  return "unknown error";
}

std::string UpdateFilePath(const std::string& libraryPath) {
  const std::size_t nameStart = libraryPath.find_last_of("\\/");
  const std::size_t dot = libraryPath.find_last_of('.');
  std::string path = libraryPath;
  if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart)) return path + "Update";
  return path.insert(dot, "Update");
}

RatesClient::RatesClient(SocketApi& sockets, ClientConfig config) : m_sockets(sockets), m_config(std::move(config)) {}

RatesClient::~RatesClient() { CloseSocket(); }

bool RatesClient::Connect() {
  CloseSocket();  // a connection never outlives its command
  m_lastError = ClientError::None;
  const auto address = m_sockets.Resolve(m_config.host);
  if (!address) return Fail(ClientError::Unresolved);
  m_socket = m_sockets.Open();
  if (m_socket == NO_SOCKET || !m_sockets.Connect(m_socket, *address, m_config.port, m_config.connectTimeout))
    return Fail(ClientError::Unreachable);
  return true;
}

bool RatesClient::Fail(ClientError error) {
  m_lastError = error;
  return false;
}

void RatesClient::CloseSocket() {
  if (m_socket == NO_SOCKET) return;
  m_sockets.Close(m_socket);
  m_socket = NO_SOCKET;
}

bool RatesClient::SendAll(const std::uint8_t* bytes, int length) {
  int sent = 0;
  do {
    const int result = m_sockets.Send(m_socket, bytes + sent, length - sent);
    if (result <= 0) return Fail(ClientError::SendFailed);
    sent += result;
  } while (sent < length);
  return true;
}

bool RatesClient::ReceiveAll(std::uint8_t* buffer, int length, int* count) {
  if (count) *count = 0;
  int received = 0;
  do {
    // Never more than what is missing, so nothing beyond `length` is read.
    const int result = m_sockets.Receive(m_socket, buffer + received, length - received, m_config.receiveTimeout);
    if (result == RECEIVE_CLOSED) return Fail(ClientError::ShortReply);
    if (result == RECEIVE_TIMED_OUT) return Fail(ClientError::TimedOut);
    if (result < 0) return Fail(ClientError::ReceiveFailed);
    received += result;
    if (count) *count = received;
  } while (received < length);
  return true;
}

bool RatesClient::Query(std::int32_t command, std::int32_t argument, std::uint8_t* reply, int length) {
  const Request request = EncodeRequest(command, argument);
  const bool ok = Connect() && SendAll(request.data(), REQUEST_BYTES) && ReceiveAll(reply, length);
  CloseSocket();
  return ok;
}

bool RatesClient::FetchRates(RateTable& rates) {
  std::array<std::uint8_t, RATES_REPLY_BYTES> reply{};
  if (!Query(CMD_GET_RATES, 1, reply.data(), RATES_REPLY_BYTES)) return false;
  rates = DecodeRateTable(reply);
  return true;
}

bool RatesClient::FetchVersion(float& version) {
  std::array<std::uint8_t, VERSION_REPLY_BYTES> reply{};
  if (!Query(CMD_GET_VERSION, 1, reply.data(), VERSION_REPLY_BYTES)) return false;
  version = LoadFloat(reply.data());
  return true;
}

bool RatesClient::FetchUpdateSize(std::int32_t& size) {
  std::array<std::uint8_t, SIZE_REPLY_BYTES> reply{};
  if (!Query(CMD_GET_UPDATE_SIZE, 1, reply.data(), SIZE_REPLY_BYTES)) return false;
  size = LoadI32(reply.data());
  return true;
}

bool RatesClient::FetchRatesRecord(RatesRecordBytes& record) {
  static_assert(SIGNED_RATES_REPLY_BYTES == RATES_RECORD_BYTES);
  RatesRecordBytes reply{};
  if (!Query(CMD_GET_SIGNED_RATES, 1, reply.data(), SIGNED_RATES_REPLY_BYTES)) return false;
  record = reply;
  return true;
}

bool RatesClient::UpdateFetcher() {
  if (m_config.libraryPath.empty()) return false;  // nowhere to put a library beside the running one
  float version = 0;
  // Any other version counts, older ones and NaN included: there is no ordering of versions.
  if (!FetchVersion(version) || version == m_config.clientVersion) return false;
  std::int32_t size = 0;
  if (!FetchUpdateSize(size)) return false;
  // An empty file would replace the library with nothing; a huge one is not a library of ours.
  if (size <= 0 || size > MAX_UPDATE_SIZE) return false;
  return DownloadUpdate(size);
}

bool RatesClient::DownloadUpdate(std::int32_t size) {
  const std::string path = UpdateFilePath(m_config.libraryPath);
  const Request request = EncodeRequest(CMD_GET_UPDATE_FILE, 0);
  const bool received = Connect() && SendAll(request.data(), REQUEST_BYTES) && ReceiveToFile(path, size);
  CloseSocket();
  if (!received) return false;
  // Only a library that this process can load and run, from the holder of the update key, may
  // go on to replace the running one. The library is what precedes the signature block.
  const auto file = ReadWholeFile(path, MAX_UPDATE_SIZE);
  if (!file || !IsPeLibraryWithExport(SignedPart(*file), RUNNING_MACHINE, LIBRARY_EXPORT) || !m_config.updateKey ||
      CheckUpdateSignature(*file, *m_config.updateKey) != SignatureCheck::Valid) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

bool RatesClient::ReceiveToFile(const std::string& path, std::int32_t size) {
  FileStream file(path, "w+b");
  if (!file) return false;
  std::array<std::uint8_t, DOWNLOAD_CHUNK_SIZE> chunk;
  long long total = 0;
  bool written = true;
  for (;;) {
    // Every receive asks for a whole chunk: the last piece of a file ends with the close.
    int count = 0;
    const bool full = ReceiveAll(chunk.data(), DOWNLOAD_CHUNK_SIZE, &count);
    if (count > 0) {
      written = std::fwrite(chunk.data(), 1, static_cast<std::size_t>(count), file.Get()) ==
                    static_cast<std::size_t>(count) &&
                written;
      total += count;
    }
    if (total >= size || !full) break;
  }
  // Surplus bytes in the last chunk and short writes both show in the final position.
  const bool complete = written && std::ftell(file.Get()) == size;
  return file.Close() && complete;
}

void RatesClient::Abort() { m_sockets.Abort(); }
