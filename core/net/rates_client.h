#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "net/protocol.h"
#include "net/rates_record.h"
#include "net/socket_api.h"
#include "net/socket_wait.h"
#include "rates/currency.h"
#include "signing/rates_key.h"
#include "signing/update_key.h"

#ifndef ORVANE_RATES_HOST
#define ORVANE_RATES_HOST "localhost"
#endif

struct ClientConfig {
  std::string host = ORVANE_RATES_HOST;  // resolved on every connection
  std::uint16_t port = RATES_PORT;
  Milliseconds connectTimeout{10000};
  Milliseconds receiveTimeout{30000};  // per receive: a silent service is a failed one
  // Per reply, however the bytes trickle in: a service that sends one byte now and then must not
  // hold the refresh for ever.
  Milliseconds replyDeadline{30000};     // the 4-byte and the 72-byte replies
  Milliseconds fileDeadline{120000};     // the library
  std::filesystem::path libraryPath;     // the running library's file; the update goes beside it
  float clientVersion = CLIENT_VERSION;  // the running library's own version
  // The key that an update must be signed with; without one no update is downloaded.
  std::optional<UpdateKey> updateKey = BuildUpdateKey();
  // The versions that the launcher could not put in place in this run of the process, separated
  // by ";" ("*": any). Asked at every update check; none of them is downloaded.
  std::function<std::string()> refusedUpdates;
  // The key that the service signs the rates with; with one, only signed rates are taken.
  std::optional<UpdateKey> ratesKey = BuildRatesKey();
};

// Why the last command failed, for people who run a service; the program itself only needs
// to know that it failed.
enum class ClientError {
  None,
  Unresolved,
  Unreachable,
  SendFailed,
  ShortReply,
  TimedOut,
  ReceiveFailed,
  LongTransfer,  // more bytes than announced
  FileFailed,    // the update could not be written beside the library
};
const char* DescribeClientError(ClientError error);

// The library's own file path with "Update" before the extension of the file name
// (C:\Apps\BrennikDll.dll gives C:\Apps\BrennikDllUpdate.dll); a name without one gets
// "Update" appended. A "." in a directory name is not an extension.
std::filesystem::path UpdateFilePath(const std::filesystem::path& libraryPath);
// Where a download is received until it has passed every check: beside the update file, under a
// name that the launcher never takes.
std::filesystem::path TemporaryUpdatePath(const std::filesystem::path& libraryPath);

// The one network client of the program. Every command opens its own connection, sends one
// request, reads a reply of known length and closes; no socket outlives a command.
class RatesClient {
 public:
  RatesClient(SocketApi& sockets, ClientConfig config);
  ~RatesClient();
  RatesClient(const RatesClient&) = delete;
  RatesClient& operator=(const RatesClient&) = delete;

  bool Connect();
  bool SendAll(const std::uint8_t* bytes, int length);
  // On false `count` holds the bytes that did arrive; they are in the buffer. The reply's
  // deadline bounds the whole of it.
  bool ReceiveAll(std::uint8_t* buffer, int length, int* count = nullptr);
  bool ReceiveAll(std::uint8_t* buffer, int length, int* count, const Deadline& deadline);

  // Leaves `rates` untouched unless a whole reply arrived.
  bool FetchRates(RateTable& rates);
  bool FetchVersion(float& version);
  bool FetchUpdateSize(std::int32_t& size);
  // The signed rates record as it came, unchecked; untouched unless exactly 160 bytes arrived
  // and then the close (more is LongTransfer).
  bool FetchRatesRecord(RatesRecordBytes& record);

  // True when the service offers a newer version and its library now waits next to the running
  // one under the update file name: downloaded completely, flushed to disk, signed with the
  // update key, loadable by this process and of the offered version by its own resource.
  bool UpdateFetcher();
  // The version of the update that the last successful UpdateFetcher put in place.
  float UpdateVersion() const { return m_updateVersion; }
  // Receives the rest of the connection into `path`, flushed to disk; true when exactly `size`
  // bytes came within the file's deadline.
  bool ReceiveToFile(const std::filesystem::path& path, std::int32_t size);

  // From any thread: the command in progress and every later one fail at once.
  void Abort();

  ClientError LastError() const { return m_lastError; }
  const ClientConfig& Config() const { return m_config; }

 private:
  // Whether a reply of fixed length must be followed by the close, nothing more.
  enum class ReplyEnd { Any, Close };
  // One request on a connection of its own; the reply and, where asked, the close come within
  // the reply's deadline.
  bool Query(std::int32_t command, std::int32_t argument, std::uint8_t* reply, int length,
             ReplyEnd end = ReplyEnd::Any);
  bool ReceiveClose(const Deadline& deadline);
  bool DownloadUpdate(float version, std::int32_t size);
  bool IsRefused(float version) const;
  void CloseSocket();
  bool Fail(ClientError error);

  SocketApi& m_sockets;
  ClientConfig m_config;
  SocketHandle m_socket = NO_SOCKET;
  ClientError m_lastError = ClientError::None;
  // Offers refused in this run of the library for what they are rather than for a broken
  // connection: downloading them again would only loop.
  std::vector<float> m_refused;
  float m_updateVersion = 0;
};
