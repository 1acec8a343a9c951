#include "net/rates_client.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <vector>

#include "base/byte_order.h"
#include "base/scope_exit.h"
#include "store/file_io.h"
#include "update/update_check.h"

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
    case ClientError::LongTransfer:
      return "the service sent more than it announced";
    case ClientError::FileFailed:
      return "cannot write the update beside the library";
  }
  return "unknown error";
}

std::filesystem::path UpdateFilePath(const std::filesystem::path& libraryPath) {
  // On the native string, so that UTF-16 paths stay exactly as the system gave them.
  using Char = std::filesystem::path::value_type;
  using Text = std::filesystem::path::string_type;
  Text path = libraryPath.native();
  const Text separators{Char('\\'), Char('/')};
  const Text update{Char('U'), Char('p'), Char('d'), Char('a'), Char('t'), Char('e')};
  const std::size_t nameStart = path.find_last_of(separators);
  const std::size_t dot = path.find_last_of(Char('.'));
  if (dot == Text::npos || (nameStart != Text::npos && dot < nameStart)) return path + update;
  return path.insert(dot, update);
}

std::filesystem::path TemporaryUpdatePath(const std::filesystem::path& libraryPath) {
  std::filesystem::path path = UpdateFilePath(libraryPath);
  path += ".part";
  return path;
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
  return ReceiveAll(buffer, length, count, Deadline(m_config.replyDeadline));
}

bool RatesClient::ReceiveAll(std::uint8_t* buffer, int length, int* count, const Deadline& deadline) {
  if (count) *count = 0;
  int received = 0;
  do {
    const Milliseconds left = deadline.Left();
    if (left.count() == 0) return Fail(ClientError::TimedOut);
    // Never more than what is missing, so nothing beyond `length` is read.
    const int result =
        m_sockets.Receive(m_socket, buffer + received, length - received, std::min(m_config.receiveTimeout, left));
    if (result == RECEIVE_CLOSED) return Fail(ClientError::ShortReply);
    if (result == RECEIVE_TIMED_OUT) return Fail(ClientError::TimedOut);
    if (result < 0) return Fail(ClientError::ReceiveFailed);
    received += result;
    if (count) *count = received;
  } while (received < length);
  return true;
}

bool RatesClient::Query(std::int32_t command, std::int32_t argument, std::uint8_t* reply, int length, ReplyEnd end) {
  const Request request = EncodeRequest(command, argument);
  bool ok = Connect() && SendAll(request.data(), REQUEST_BYTES);
  if (ok) {
    const Deadline deadline(m_config.replyDeadline);
    ok = ReceiveAll(reply, length, nullptr, deadline) && (end == ReplyEnd::Any || ReceiveClose(deadline));
  }
  CloseSocket();
  return ok;
}

bool RatesClient::ReceiveClose(const Deadline& deadline) {
  const Milliseconds left = deadline.Left();
  if (left.count() == 0) return Fail(ClientError::TimedOut);
  std::uint8_t surplus = 0;
  const int result = m_sockets.Receive(m_socket, &surplus, 1, std::min(m_config.receiveTimeout, left));
  if (result == RECEIVE_CLOSED) return true;
  if (result == RECEIVE_TIMED_OUT) return Fail(ClientError::TimedOut);
  if (result < 0) return Fail(ClientError::ReceiveFailed);
  return Fail(ClientError::LongTransfer);
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

bool RatesClient::IsRefused(float version) const {
  if (std::find(m_refused.begin(), m_refused.end(), version) != m_refused.end()) return true;
  return m_config.refusedUpdates && IsListedVersion(m_config.refusedUpdates(), version);
}

bool RatesClient::FetchRatesRecord(RatesRecordBytes& record) {
  static_assert(SIGNED_RATES_REPLY_BYTES == RATES_RECORD_BYTES);
  RatesRecordBytes reply{};
  // A byte after the 160 would make it a reply of another form, whatever its first 160 say.
  if (!Query(CMD_GET_SIGNED_RATES, 1, reply.data(), SIGNED_RATES_REPLY_BYTES, ReplyEnd::Close)) return false;
  record = reply;
  return true;
}

bool RatesClient::UpdateFetcher() {
  // Nowhere to put a library, or no key to check one with: nothing is downloaded at all.
  if (m_config.libraryPath.empty() || !m_config.updateKey) return false;
  RemoveFile(TemporaryUpdatePath(m_config.libraryPath));  // what a crash cut short is of no use
  float version = 0;
  if (!FetchVersion(version)) return false;
  if (!IsNewerVersion(version, m_config.clientVersion) || IsRefused(version)) return false;
  std::int32_t size = 0;
  if (!FetchUpdateSize(size)) return false;
  // An empty file would replace the library with nothing; a huge one is not a library of ours.
  if (size <= 0 || size > MAX_UPDATE_SIZE) {
    m_refused.push_back(version);
    return false;
  }
  if (!DownloadUpdate(version, size)) return false;
  m_updateVersion = version;
  return true;
}

bool RatesClient::DownloadUpdate(float version, std::int32_t size) {
  const std::filesystem::path temporary = TemporaryUpdatePath(m_config.libraryPath);
  bool renamed = false;
  const ScopeExit removeUnlessRenamed([&] {
    if (!renamed) RemoveFile(temporary);
  });
  const Request request = EncodeRequest(CMD_GET_UPDATE_FILE, 0);
  const bool received = Connect() && SendAll(request.data(), REQUEST_BYTES) && ReceiveToFile(temporary, size);
  CloseSocket();
  if (!received) {
    // A connection that broke may work next time; more bytes than announced will not.
    if (m_lastError == ClientError::LongTransfer) m_refused.push_back(version);
    return false;
  }
  // The bytes that were flushed to disk are the ones checked and, once good, renamed.
  const auto file = ReadWholeFile(temporary, MAX_UPDATE_SIZE);
  if (!file) return Fail(ClientError::FileFailed);
  if (CheckUpdateFile(*file, *m_config.updateKey, version) != UpdateCheck::Valid) {
    m_refused.push_back(version);  // not what was offered, and it will not be next time either
    return false;
  }
  renamed = ReplaceFileDurably(temporary, UpdateFilePath(m_config.libraryPath));
  return renamed || Fail(ClientError::FileFailed);
}

bool RatesClient::ReceiveToFile(const std::filesystem::path& path, std::int32_t size) {
  FileStream file(path, "wb");
  if (!file) return Fail(ClientError::FileFailed);
  const Deadline deadline(m_config.fileDeadline);
  std::array<std::uint8_t, DOWNLOAD_CHUNK_SIZE> chunk;
  long long total = 0;
  bool written = true;
  for (;;) {
    // Every receive asks for a whole chunk: the last piece of a file ends with the close.
    int count = 0;
    const bool full = ReceiveAll(chunk.data(), DOWNLOAD_CHUNK_SIZE, &count, deadline);
    if (count > 0) {
      written = std::fwrite(chunk.data(), 1, static_cast<std::size_t>(count), file.Get()) ==
                    static_cast<std::size_t>(count) &&
                written;
      total += count;
    }
    if (total >= size || !full) break;
  }
  // Surplus bytes in the last chunk and short writes both show in the final position.
  const bool complete = std::ftell(file.Get()) == size;
  const bool durable = written && FlushFileToDisk(file.Get());
  if (!file.Close() || !durable) return Fail(ClientError::FileFailed);
  if (total > size) return Fail(ClientError::LongTransfer);
  return complete;
}

void RatesClient::Abort() { m_sockets.Abort(); }
