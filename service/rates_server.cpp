#include "rates_server.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "private_file.h"
#include "rates_file.h"
#include "rates_health.h"
#include "service_log.h"
#include "signed_rates.h"
#include "update_offer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Some descriptors stay free for the listeners, the rates file and the log.
constexpr rlim_t RESERVED_FILES = 32;

std::size_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur > RESERVED_FILES ? static_cast<std::size_t>(limit.rlim_cur - RESERVED_FILES) : 1;
}

// Whom the per-peer cap counts a connection against: an IPv4 address, or an IPv6 /64, since
// one subscriber is given a whole /64 and may use any address in it.
asio::ip::address PeerOf(const asio::ip::address& address) {
  if (!address.is_v6()) return address;
  asio::ip::address_v6::bytes_type bytes = address.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return asio::ip::address_v6(bytes);
}

const char* SourceName(RatesSource source) {
  return source == RatesSource::EuropeanCentralBank ? "European Central Bank" : "National Bank of Romania";
}

}  // namespace

bool RatesServer::FileStamp::operator==(const FileStamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

RatesServer::RatesServer(ServiceOptions options)
    : m_io(1),
      m_options(std::move(options)),
      m_context(std::make_shared<ConnectionContext>()),
      m_signals(m_io),
      m_pollTimer(m_io),
      m_acceptPause(m_io),
      m_statsTimer(m_io),
      m_maxConnections(std::min(m_options.maxConnections, RaiseOpenFileLimit())) {
  m_context->settings = {m_options.quiet, m_options.requestTimeout, m_options.transferTimeout};
}

bool RatesServer::Start() {
  // Before anything is announced: a SIGHUP that follows "listening on" must reload, not kill.
  if (m_options.handleSignals) {
    m_signals.add(SIGINT);
    m_signals.add(SIGTERM);
    m_signals.add(SIGHUP);
    WaitForSignal();
  }
  if (!LoadRatesKey() || !ReloadRates(true)) return false;
  if (m_options.offerVersion && !ReloadOffer()) return false;
  Publish();
  for (const ListenAddress& address : m_options.listen)
    if (!Listen(address)) return false;
  if (m_options.metrics) {
    const ListenAddress& address = *m_options.metrics;
    std::error_code error;
    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(address.host, error), address.port);
    std::string reason = error ? "not an IP address" : "";
    m_metrics = std::make_unique<MetricsEndpoint>(
        m_io, [this] { return Metrics(); },
        [this] {
          return m_rates ? RatesHealth(m_ratesDate, RatesAgeDays(), m_options.maxRatesAgeDays)
                         : RatesHealth({}, std::nullopt, m_options.maxRatesAgeDays);
        });
    if (error || !m_metrics->Listen(endpoint, reason)) {
      LogLine(LogPriority::Error,
              "cannot serve metrics on " + address.host + ":" + std::to_string(address.port) + ": " + reason);
      return false;
    }
    LogLine("metrics on http://" + DescribeEndpoint(m_metrics->LocalEndpoint()) + "/metrics");
  }
  WatchRatesFile();
  if (m_options.statsInterval.count() > 0) LogStats();
  return true;
}

void RatesServer::Run() { m_io.run(); }

void RatesServer::StopFromAnyThread() {
  asio::post(m_io, [this] { Stop(); });
}

std::uint16_t RatesServer::FirstPort() const {
  std::error_code error;
  return m_acceptors.empty() ? 0 : m_acceptors.front()->local_endpoint(error).port();
}

void RatesServer::Stop() {
  if (m_stopping) return;
  m_stopping = true;
  std::error_code ignored;
  m_signals.cancel(ignored);
  m_pollTimer.cancel();
  m_acceptPause.cancel();
  m_statsTimer.cancel();
  for (auto& acceptor : m_acceptors) acceptor->close(ignored);
  if (m_metrics) m_metrics->Close();
  m_context->open.CloseAll(Outcome::Stopped);
}

bool RatesServer::Listen(const ListenAddress& address) {
  std::error_code error;
  const asio::ip::address ip = asio::ip::make_address(address.host, error);
  if (error) {
    LogLine(LogPriority::Error, "cannot listen on " + address.host + ": not an IP address");
    return false;
  }
  const asio::ip::tcp::endpoint endpoint(ip, address.port);
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(m_io);
  acceptor->open(endpoint.protocol(), error);
  if (!error) acceptor->set_option(asio::socket_base::reuse_address(true), error);
  // Several processes on one port: the kernel spreads new connections over their listeners.
  if (!error && m_options.reusePort)
    acceptor->set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>(true), error);
  // An IPv6 listener takes IPv6 only, so that "::" and "0.0.0.0" can be listened on side by side.
  if (!error && ip.is_v6()) acceptor->set_option(asio::ip::v6_only(true), error);
  if (!error) acceptor->bind(endpoint, error);
  if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    LogLine(LogPriority::Error, "cannot listen on " + DescribeEndpoint(endpoint) + ": " + error.message());
    return false;
  }
  LogLine("listening on " + DescribeEndpoint(acceptor->local_endpoint()));
  Accept(*acceptor);
  m_acceptors.push_back(std::move(acceptor));
  return true;
}

void RatesServer::Accept(asio::ip::tcp::acceptor& acceptor) {
  acceptor.async_accept([this, &acceptor](std::error_code error, asio::ip::tcp::socket socket) {
    if (m_stopping) return;
    if (!error) {
      Admit(std::move(socket));
      return Accept(acceptor);
    }
    // Out of descriptors or memory: pause rather than spin; connections that end make room.
    LogLine(LogPriority::Warning, "accept failed: " + error.message());
    m_acceptPause.expires_after(std::chrono::milliseconds(100));
    m_acceptPause.async_wait([this, &acceptor](std::error_code waitError) {
      if (!waitError && !m_stopping) Accept(acceptor);
    });
  });
}

void RatesServer::Admit(asio::ip::tcp::socket socket) {
  std::error_code error;
  asio::ip::address peer = socket.remote_endpoint(error).address();
  // A reset at once: the peer learns it is refused, and nothing of it lingers here.
  const auto refuse = [&socket](std::uint64_t& counter) {
    ++counter;
    std::error_code ignored;
    socket.set_option(asio::socket_base::linger(true, 0), ignored);
    socket.close(ignored);
  };
  // A peer already gone (reset while in the backlog) is admitted under no address: its first read
  // then fails, and it is counted as any other failed receive.
  if (error) peer = asio::ip::address();
  peer = PeerOf(peer);
  ConnectionRegister& open = m_context->open;
  if (open.FromPeer(peer) >= m_options.maxConnectionsPerPeer) {
    if (!m_options.quiet)
      LogLine(LogPriority::Warning, "refused a connection from " + peer.to_string() + ": it has " +
                                        std::to_string(m_options.maxConnectionsPerPeer) + " open");
    return refuse(m_context->counters.refusedPerPeer);
  }
  if (open.Active() >= m_maxConnections && !open.MakeRoom()) {
    if (!m_options.quiet) LogLine(LogPriority::Warning, "refused a connection: all connections busy sending");
    return refuse(m_context->counters.refusedAtCap);
  }
  std::make_shared<Connection>(m_context, std::move(socket), peer)->Start();
}

void RatesServer::WaitForSignal() {
  m_signals.async_wait([this](std::error_code error, int signal) {
    if (error) return;
    if (signal == SIGHUP) {
      LogLine("SIGHUP: reloading");
      const bool rates = ReloadRates(true);
      const bool offer = m_options.offerVersion ? ReloadOffer() : false;
      if (rates || offer) Publish();
      return WaitForSignal();
    }
    LogLine(signal == SIGTERM ? "SIGTERM: stopping" : "SIGINT: stopping");
    Stop();
  });
}

void RatesServer::WatchRatesFile() {
  m_pollTimer.expires_after(m_options.pollInterval);
  m_pollTimer.async_wait([this](std::error_code error) {
    if (error || m_stopping) return;
    if (ReloadRates(false)) Publish();
    WarnIfRatesOld();
    WatchRatesFile();
  });
}

void RatesServer::LogStats() {
  m_statsTimer.expires_after(m_options.statsInterval);
  m_statsTimer.async_wait([this](std::error_code error) {
    if (error || m_stopping) return;
    LogLine(StatsLine(View()));
    LogStats();
  });
}

std::string RatesServer::Metrics() const { return PrometheusText(View()); }

StatsView RatesServer::View() const {
  return {m_context->counters,
          m_context->open.Size(),
          m_ratesDate,
          m_offer ? m_offer->version : 0.0f,
          m_metrics ? m_metrics->Refused() : 0,
          RatesAgeDays()};
}

// True when new rates were taken. A file that is missing, incomplete or invalid is logged once
// per change and leaves the rates being served as they are.
bool RatesServer::ReloadRates(bool force) {
  const std::string& path = m_options.ratesPath;
  // With rates in service a bad file is a warning; without, the service cannot start.
  const auto Trouble = [this] { return m_rates ? LogPriority::Warning : LogPriority::Error; };
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    const FileStamp missing{};
    if (force || m_ratesStamp != missing)
      LogLine(Trouble(), "rates: cannot read " + path + (m_rates ? "; still serving " + m_ratesDate : ""));
    m_ratesStamp = missing;
    return false;
  }
  const FileStamp stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  if (!force && m_ratesStamp && *m_ratesStamp == stamp) return false;
  m_ratesStamp = stamp;
  RatesFile file = LoadRatesFile(path);
  // Signed once per load, never per request.
  std::optional<RatesRecordBytes> signedRates;
  if (file.ok && m_ratesKey) {
    signedRates = SignRatesFile(file, *m_ratesKey, file.error);
    file.ok = signedRates.has_value();
  }
  if (!file.ok) {
    LogLine(Trouble(),
            "rates: " + path + " refused (" + file.error + ")" + (m_rates ? "; still serving " + m_ratesDate : ""));
    return false;
  }
  m_rates = file.rates;
  m_ratesDate = file.date;
  m_signedRates = signedRates;
  LogLine("rates: serving " + file.date + " from " + path + " (" + SourceName(file.source) + ")" +
          (m_signedRates ? ", signed" : ""));
  m_oldRatesWarned.reset();  // new rates: a new warning when they are old too
  WarnIfRatesOld();
  if (!file.lacking.empty()) {
    std::string lacking;
    for (int index : file.lacking) lacking += std::string(lacking.empty() ? "" : ", ") + CurrencyCodes[index];
    LogLine(LogPriority::Warning, "rates: the file has no rate for " + lacking + "; serving 0 for them");
  }
  return true;
}

bool RatesServer::ReloadOffer() {
  LoadedOffer loaded = LoadUpdateOffer(m_options.offerPath, *m_options.offerVersion, m_options.offerKeyPath);
  if (!loaded.offer) {
    LogLine(m_offer ? LogPriority::Warning : LogPriority::Error,
            "offer: " + loaded.error + (m_offer ? "; still offering the previous file" : ""));
    return false;
  }
  m_offer = std::move(loaded.offer);
  // Beside the offered file first: the service may write there and it is a disk's page cache.
  const std::string directory = std::filesystem::path(m_options.offerPath).parent_path().string();
  const char* temporary = std::getenv("TMPDIR");
  m_offerCopy = PrivateFile::Make(*m_offer->file,
                                  {directory.empty() ? "." : directory, temporary && *temporary ? temporary : "/tmp"});
  if (m_offerCopy)
    LogLine(std::string("offer: sent from a private copy, ") + m_offerCopy->Kind() +
            (m_offerCopy->Where().empty() ? "" : " " + m_offerCopy->Where()));
  else
    LogLine(LogPriority::Warning, "offer: no private copy could be made; sending it from memory");
  LogLine("offer: " + loaded.summary);
  return true;
}

void RatesServer::Publish() { m_context->content = MakeServedContent(*m_rates, m_offer, m_offerCopy, m_signedRates); }

bool RatesServer::LoadRatesKey() {
  if (m_options.ratesKeyPath.empty()) return true;
  std::string error;
  m_ratesKey = SigningKey::ReadPem(m_options.ratesKeyPath, error);
  if (!m_ratesKey) {
    LogLine(LogPriority::Error, "rates key: " + m_options.ratesKeyPath + ": " + error);
    return false;
  }
  const auto keyId = KeyIdOf(m_ratesKey->PublicKey());
  LogLine("rates key: " + m_options.ratesKeyPath + ", key id " + (keyId ? FormatKeyId(*keyId) : "?") +
          "; command 5 answers with the signed rates");
  return true;
}

std::optional<std::uint32_t> RatesServer::Today() const {
  if (m_options.today) return m_options.today;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) return std::nullopt;
  return MakeRatesDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::optional<std::int64_t> RatesServer::RatesAgeDays() const {
  const auto date = ParseIsoDate(m_ratesDate);
  const auto today = Today();
  if (!date || !today) return std::nullopt;
  return DaysOld(*date, LocalTime{static_cast<int>(*today / 10000), static_cast<int>(*today / 100 % 100),
                                  static_cast<int>(*today % 100)});
}

// Once a day while the rates served are old: the bank's daily download has been failing.
void RatesServer::WarnIfRatesOld() {
  const auto age = RatesAgeDays();
  const auto today = Today();
  if (!age || !today || *age <= OLD_RATES_DAYS || m_oldRatesWarned == today) return;
  m_oldRatesWarned = today;
  LogLine(LogPriority::Warning, "rates: warning: serving the rates of " + m_ratesDate + ", " + std::to_string(*age) +
                                    " days older than today (" + FormatIsoDate(*today) +
                                    "); is the daily download failing?");
}
