#pragma once
// The bundled site: an HTTP server on loopback that serves GBK pages in the
// shapes the program reads (song, list, singer, search and update pages),
// plus the MP3 audio those pages point to. It is the demo the programs start
// without --site, the fixture of the tests and the target of the benchmarks.

#include <memory>
#include <string>

namespace melo::bundled {

struct BundledSiteOptions {
  int port = 0;                        // 0: an ephemeral port
  int latencyMs = 0;                   // delay before each answer (benchmarks)
  std::string pagesDir = {};           // serve recorded pages from here, path to file
  bool verbose = false;                // log each request on stderr
  std::string latestVersion = "v1.6";  // what the update page announces
  int chartSize = 20;                  // entries of the weekly chart, cycling the catalogue
  bool holdAnswers = false;            // answers wait for ReleaseAnswers() (tests)
  bool oneReplyPerConnection = false;  // each connection closed after its reply (tests)
  // How long a request may take to arrive whole; a client that sends half
  // of one is closed after it.
  int requestTimeoutMs = 3000;
  // A socket bound and listening already, which the site serves on (and
  // closes) instead of binding `port`: a program that binds early and loads
  // the site only once a client knocks.
  int listeningSocket = -1;
};

class BundledSite {
 public:
  // Binds 127.0.0.1 (or takes the listening socket) and starts serving;
  // throws std::runtime_error when the port cannot be bound.
  explicit BundledSite(BundledSiteOptions options = {});
  ~BundledSite();  // stops the server and joins its thread
  BundledSite(const BundledSite&) = delete;
  BundledSite& operator=(const BundledSite&) = delete;

  int Port() const;
  // "localhost:PORT": the site host the program is given (SiteBase and
  // SiteBaseWww both resolve to loopback).
  std::string Host() const;
  // Lets every held answer go, and every later one straight through.
  void ReleaseAnswers();

 private:
  struct Server;
  std::unique_ptr<Server> server_;
};

}  // namespace melo::bundled
