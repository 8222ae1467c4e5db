// Start-up of Tessarin beside a minimal Qt Widgets window (one button, bench/minimal_window.cpp),
// both started in the same run on the X server of $DISPLAY. Each start is timed from the spawn
// until the program first draws into a window of its own, as the X DAMAGE extension reports it,
// and the program's resident memory is read at that moment; then the program is ended.
//
// Benchmarks are named KIND/window: "tessarin" against "baseline", the minimal window; after the
// table the run prints tessarin / baseline (medians when repeated; see bench/ratios.h). The
// rss_MiB counter is the resident memory at the first drawing. Run it where a window manager
// manages the windows, e.g. on a fresh Xvfb with openbox:
//   tests/x11/onx11.sh build/bench/startup_bench --benchmark_repetitions=7
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/ratios.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Start {
    double seconds = 0;
    double rssmib = 0;
};

// The X connection, watching the top-level windows as they are made.
class Server {
public:
    Server() : connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_) != 0) {
            throw std::runtime_error("no X server at $DISPLAY");
        }
        const xcb_query_extension_reply_t* damage =
            xcb_get_extension_data(connection_, &xcb_damage_id);
        if (damage == nullptr || damage->present == 0) {
            throw std::runtime_error("the X server has no DAMAGE extension");
        }
        damageevent_ = damage->first_event;
        free(xcb_damage_query_version_reply(connection_,
                                            xcb_damage_query_version(connection_, 1, 1), nullptr));
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        pidatom_ = atom("_NET_WM_PID");
        xcb_flush(connection_);
    }
    ~Server() { xcb_disconnect(connection_); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Starts `program` and waits (30 s at most) until it draws into a window it made.
    Start start(const std::string& program) {
        std::vector<xcb_damage_damage_t> damages;
        const Clock::time_point begin = Clock::now();
        pid_t pid = 0;
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
            throw std::runtime_error("cannot start " + program);
        }
        Start start;
        const Clock::time_point deadline = begin + std::chrono::seconds(30);
        while (start.seconds == 0) {
            std::unique_ptr<xcb_generic_event_t, decltype(&free)> event(nextevent(deadline), &free);
            const int type = event->response_type & 0x7F;
            if (type == XCB_CREATE_NOTIFY) {
                const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event.get());
                const xcb_damage_damage_t damage = xcb_generate_id(connection_);
                xcb_damage_create(connection_, damage, created->window,
                                  XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                xcb_flush(connection_);
                damages.push_back(damage);
            } else if (type == damageevent_ + XCB_DAMAGE_NOTIFY) {
                const auto* drawn = reinterpret_cast<xcb_damage_notify_event_t*>(event.get());
                // A window manager draws into frames of its own.
                if (windowpid(drawn->drawable) == pid) {
                    start.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
                    start.rssmib = rssmib(pid);
                }
            }
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        for (xcb_damage_damage_t damage : damages) {
            xcb_damage_destroy(connection_, damage);
        }
        xcb_flush(connection_);
        // What is left of the ended program's events.
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            free(event);
        }
        return start;
    }

private:
    xcb_atom_t atom(const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
            xcb_intern_atom_reply(
                connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr),
            &free);
        return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }

    pid_t windowpid(xcb_window_t window) {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
            xcb_get_property_reply(
                connection_,
                xcb_get_property(connection_, 0, window, pidatom_, XCB_ATOM_CARDINAL, 0, 1),
                nullptr),
            &free);
        if (!reply || xcb_get_property_value_length(reply.get()) != 4) {
            return 0;
        }
        return static_cast<pid_t>(
            *static_cast<std::uint32_t*>(xcb_get_property_value(reply.get())));
    }

    static double rssmib(pid_t pid) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::stod(line.substr(6)) / 1024.0;
            }
        }
        return 0;
    }

    xcb_generic_event_t* nextevent(Clock::time_point deadline) {
        for (;;) {
            if (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                return event;
            }
            if (xcb_connection_has_error(connection_) != 0) {
                throw std::runtime_error("the X connection broke");
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                throw std::runtime_error("no window was drawn within 30 s");
            }
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t pidatom_ = XCB_ATOM_NONE;
    int damageevent_ = 0;
};

void startup(benchmark::State& state, const std::string& program) {
    try {
        Server server;
        double rss = 0;
        for (auto _ : state) {
            const Start start = server.start(program);
            state.SetIterationTime(start.seconds);
            rss += start.rssmib;
        }
        state.counters["rss_MiB"] = rss / static_cast<double>(state.iterations());
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const std::pair<const char*, std::string> programs[] = {
        {"tessarin/window", TESSARIN_PROGRAM}, {"baseline/window", MINIMAL_WINDOW_PROGRAM}};
    for (const auto& [name, program] : programs) {
        benchmark::RegisterBenchmark(name, startup, program)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    benchratios::runwithratios(benchratios::Clock::real);
    return 0;
}
