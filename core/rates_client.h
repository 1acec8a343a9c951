#pragma once

#include <cstdint>
#include <string>

#include "currency.h"
#include "protocol.h"
#include "rates_key.h"
#include "rates_record.h"
#include "socket_api.h"
#include "update_key.h"

#ifndef ORVANE_RATES_HOST
#define ORVANE_RATES_HOST "localhost"
#endif

struct ClientConfig {
  std::string host = ORVANE_RATES_HOST;  // resolved on every connection
  std::uint16_t port = RATES_PORT;
  Milliseconds connectTimeout{10000};
  Milliseconds receiveTimeout{30000};    // per receive: a silent service is a failed one
  std::string libraryPath;               // the running library's file; the update goes beside it
  float clientVersion = CLIENT_VERSION;  // the running library's own version
  // The key that an update must be signed with; without one no update is accepted.
  std::optional<UpdateKey> updateKey = BuildUpdateKey();
  // The key that the service signs the rates with; with one, only signed rates are taken.
  std::optional<UpdateKey> ratesKey = BuildRatesKey();
};

// Why the last command failed, for people who run a service; the program itself only needs
// to know that it failed.
enum class ClientError { None, Unresolved, Unreachable, SendFailed, ShortReply, TimedOut, ReceiveFailed };
const char* DescribeClientError(ClientError error);

// The library's own file path with "Update" before the extension of the file name
// (C:\Apps\BrennikDll.dll gives C:\Apps\BrennikDllUpdate.dll); a name without one gets
// "Update" appended. A "." in a directory name is not an extension.
std::string UpdateFilePath(const std::string& libraryPath);

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
  // On false `count` holds the bytes that did arrive; they are in the buffer.
  bool ReceiveAll(std::uint8_t* buffer, int length, int* count = nullptr);

  // Leaves `rates` untouched unless a whole reply arrived.
  bool FetchRates(RateTable& rates);
  bool FetchVersion(float& version);
  bool FetchUpdateSize(std::int32_t& size);
  // The signed rates record as it came, unchecked; untouched unless all 160 bytes arrived.
  bool FetchRatesRecord(RatesRecordBytes& record);

  // True when the service offers another version and its library was downloaded completely
  // next to the running one, as a library this process can load, signed with the update key.
  bool UpdateFetcher();
  bool ReceiveToFile(const std::string& path, std::int32_t size);

  // From any thread: the command in progress and every later one fail at once.
  void Abort();

  ClientError LastError() const { return m_lastError; }
  const ClientConfig& Config() const { return m_config; }

 private:
  bool Query(std::int32_t command, std::int32_t argument, std::uint8_t* reply, int length);
  bool DownloadUpdate(std::int32_t size);
  void CloseSocket();
  bool Fail(ClientError error);

  SocketApi& m_sockets;
  ClientConfig m_config;
  SocketHandle m_socket = NO_SOCKET;
  ClientError m_lastError = ClientError::None;
};
