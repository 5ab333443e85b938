// tqbs perf serve: the counters over HTTP for Prometheus, collected on every
// scrape as exporters do.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command.h"

#ifdef TQBS_HAVE_HTTPLIB
#include <httplib.h>
#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "perf_collector.h"
#include "perf_counters.h"
#include "prometheus.h"
#endif

namespace tqbs {

namespace {

constexpr const char* kTool = "tqbs perf serve";

// "HOST:PORT" or "[V6]:PORT" into its parts; port 0 asks for any free port.
bool ParseListen(const std::string& text, std::string* host, int* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    *host = text.substr(0, colon);
    if (host->front() == '[') {
        if (host->size() < 3 || host->back() != ']') return false;
        *host = host->substr(1, host->size() - 2);
    } else if (host->find(':') != std::string::npos) {
        return false;  // a v6 address needs its brackets
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || errno != 0 || value < 0 || value > 65535) return false;
    *port = static_cast<int>(value);
    return true;
}

#ifdef TQBS_HAVE_HTTPLIB

constexpr const char* kIndexPage =
    "<!DOCTYPE html>\n"
    "<html><head><meta charset=\"utf-8\"><title>Tessaloquin exporter</title></head>\n"
    "<body><h1>Tessaloquin exporter</h1>\n"
    "<p>The statistics counters of a Tessaloquin server, collected on every scrape.</p>\n"
    "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

// Collects for one scrape; one at a time, as the host is not shared.
class Scraper {
public:
    std::string Metrics() {
        std::lock_guard<std::mutex> lock(mutex_);
        perf::Sample sample;
        std::string error;
        if (!collector_.Take(&sample, &error)) {
            sample.status = perf::Status::kNoData;
            if (error != lastError_) std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
        }
        lastError_ = error;
        catalogue_.Refresh(collector_.extension());
        return prometheus::Exposition(sample, catalogue_);
    }

private:
    std::mutex mutex_;
    perf::Collector collector_;
    perf::Catalogue catalogue_{nullptr};
    std::string lastError_;  // told once, not on every scrape
};

int Serve(const std::string& host, int port) {
    // SIGINT and SIGTERM go to a thread that stops the server; the server's
    // threads never see them. A client that goes away is no SIGPIPE.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Scraper scraper;
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(2); };
    // SO_REUSEADDR alone: httplib's default adds SO_REUSEPORT, with which a
    // second endpoint would share the port instead of being refused.
    server.set_socket_options([](socket_t fd) {
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Idle connections end soon, so that a stop does not wait for them.
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(2);
    server.Get("/metrics", [&scraper](const httplib::Request&, httplib::Response& response) {
        response.set_content(scraper.Metrics(), prometheus::kContentType);
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(kIndexPage, "text/html; charset=utf-8");
    });

    int bound = port;
    if (port == 0) {
        bound = server.bind_to_any_port(host);
    } else if (!server.bind_to_port(host, port)) {
        bound = -1;
    }
    if (bound <= 0) {
        std::fprintf(stderr,
                     "%s: cannot listen on %s port %d (in use, or not an address of "
                     "this machine)\n",
                     kTool, host.c_str(), port);
        return kFailure;
    }
    const bool v6 = host.find(':') != std::string::npos;
    std::printf("%s: listening on http://%s%s%s:%d/metrics\n", kTool, v6 ? "[" : "", host.c_str(),
                v6 ? "]" : "", bound);
    std::fflush(stdout);

    std::atomic<bool> signalled{false}, ended{false};
    std::thread stopper([&server, &signalled, &ended, stops] {
        int signal = 0;
        sigwait(&stops, &signal);
        signalled = true;
        // A stop before the server runs would be lost: wait until it does.
        while (!server.is_running() && !ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        server.stop();
    });
    const bool served = server.listen_after_bind();
    ended = true;
    // A server that ended by itself wakes the stopper up.
    if (!signalled) pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    if (!served && !signalled) {
        std::fprintf(stderr, "%s: the server stopped accepting connections\n", kTool);
        return kFailure;
    }
    std::printf("%s: stopped\n", kTool);
    return kSuccess;
}

#endif

}  // namespace

// The help of the command tells whether this build has it.
extern const char kPerfServeUsage[] =
    "usage: tqbs perf serve [--listen ADDRESS:PORT]\n"
    "\n"
    "An HTTP endpoint for Prometheus: every request of /metrics collects the\n"
    "counters, as the performance host, and answers in the Prometheus text format\n"
    "0.0.4 (the same metrics as 'tqbs perf monitor --prometheus' writes:\n"
    "tessaloquin_up, running totals as counters ending in _total, raw counts as\n"
    "gauges). / is a short page that links /metrics; other paths are 404. Until\n"
    "the counters are installed and a server provides them, tessaloquin_up is 0.\n"
    "\n"
    "Options:\n"
    "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:9833, loopback\n"
    "                         only; [::1]:9833 for IPv6, 0.0.0.0:9833 for every\n"
    "                         network, without authentication or TLS; port 0\n"
    "                         takes a free port, which the first line names)\n"
    "\n"
    "Prints the address it listens on, then serves until SIGINT or SIGTERM.\n"
#ifndef TQBS_HAVE_HTTPLIB
    "\n"
    "This tqbs was built without cpp-httplib: serve is not available here and exits\n"
    "with 1. Install libcpp-httplib-dev and build again, or use 'tqbs perf monitor\n"
    "--prometheus FILE' with node_exporter's textfile collector.\n"
#endif
    "\n"
    "Exit codes: 0 stopped by SIGINT or SIGTERM, 1 the address cannot be bound (or\n"
    "no HTTP server in this build), 2 usage error.\n";

int RunPerfServe(int argc, char** argv) {
    std::string listen = "127.0.0.1:9833";
    for (int i = 1; i < argc;) {
        const char* value = nullptr;
        const int found = OptionValue(kTool, argc, argv, &i, "--listen", &value);
        if (found < 0) return kUsage;
        if (found == 0) {
            std::fprintf(stderr, "%s: unexpected argument '%s'\n", kTool, argv[i]);
            return kUsage;
        }
        listen = value;
    }
    std::string host;
    int port = 0;
    if (!ParseListen(listen, &host, &port)) {
        std::fprintf(stderr,
                     "%s: --listen takes ADDRESS:PORT (e.g. 127.0.0.1:9833, [::1]:9833, "
                     "0.0.0.0:9833), not '%s'\n",
                     kTool, listen.c_str());
        return kUsage;
    }
#ifdef TQBS_HAVE_HTTPLIB
    return Serve(host, port);
#else
    std::fprintf(stderr,
                 "%s: this tqbs was built without an HTTP server (cpp-httplib was not found); "
                 "use 'tqbs perf monitor --prometheus FILE' with node_exporter's textfile "
                 "collector instead\n",
                 kTool);
    return kFailure;
#endif
}

}  // namespace tqbs
