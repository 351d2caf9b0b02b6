// The two wires of the printer model. Each runs one thread that reads request frames
// and writes what the model answers; both stop cleanly in their destructors. The model
// must outlive its endpoints.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace fp::model {

class PrinterModel;

// A pty pair: the host opens SlavePath() as its serial port; the model serves the master.
// The slave side is put in raw mode and kept open by the endpoint, so the host may open
// and close it any number of times. An endpoint made with NamingSenders() gives each
// request a source naming the child processes that had the slave open when its bytes were
// read and at the read before ("pid 41" or "pid 41 or pid 57" across a change of holder;
// empty when only this process had it open). Finding them reads /proc at every read, which
// costs more than the rest of an exchange, so other endpoints leave the source empty.
class PtyEndpoint {
 public:
  struct Options {
    bool nameSenders = false;  // look up the processes holding the slave for each request
  };
  static Options NamingSenders() {
    Options o;
    o.nameSenders = true;
    return o;
  }
  explicit PtyEndpoint(PrinterModel& model) : PtyEndpoint(model, Options{}) {}
  PtyEndpoint(PrinterModel& model, Options options);
  ~PtyEndpoint();
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;

  const std::string& SlavePath() const { return FSlavePath; }

 private:
  void Serve();
  PrinterModel& FModel;
  const bool FNameSenders;
  int FMaster = -1;
  int FSlave = -1;
  int FStop[2] = {-1, -1};
  std::string FSlavePath;
  std::thread FThread;
};

// A TCP listener on 127.0.0.1 with a port the kernel picks. One connection is served at a
// time; a new connection replaces the old one (a host that reconnects is served at once).
// A request's source is "connection N", N counting the accepted connections from 1.
class TcpEndpoint {
 public:
  struct Options {
    std::chrono::milliseconds listenDelay{0};  // the port is bound at once, listened on later
    bool listen = true;                        // false: bound but never listening (connections are refused)
  };
  static Options ListenAfter(std::chrono::milliseconds delay) {
    Options o;
    o.listenDelay = delay;
    return o;
  }
  static Options NoListener() {
    Options o;
    o.listen = false;
    return o;
  }
  explicit TcpEndpoint(PrinterModel& model) : TcpEndpoint(model, Options{}) {}
  TcpEndpoint(PrinterModel& model, Options options);
  ~TcpEndpoint();
  TcpEndpoint(const TcpEndpoint&) = delete;
  TcpEndpoint& operator=(const TcpEndpoint&) = delete;

  uint16_t Port() const { return FPort; }
  std::string Host() const { return "127.0.0.1"; }
  void StartListening();                             // for a listener created with listen = false
  int Accepted() const { return FAccepted.load(); }  // connections accepted so far

 private:
  void Serve(std::chrono::milliseconds delay);
  bool ListenNow();
  PrinterModel& FModel;
  int FListen = -1;
  int FStop[2] = {-1, -1};
  int FWake[2] = {-1, -1};
  uint16_t FPort = 0;
  std::mutex FListenMu;
  bool FListening = false;
  std::atomic<int> FAccepted{0};
  std::thread FThread;
};

}  // namespace fp::model
