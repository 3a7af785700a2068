#pragma once

// Work that would hold up the window (the bus check and the overview picture of a large network,
// the translation of a circuit for a simulation, the runs of a bus analysis) goes on a thread of
// its own. Only the newest request counts: one asked for while another runs waits and replaces
// any request still waiting, the running one is told to stop, and a result or news comes back
// (on the thread of the receiving object, through its event loop) only if no newer request was
// made and the job was not cancelled meanwhile.

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

namespace busweave {

// The requests' count of a TLatestJob, shared with its results and news on their way, which may
// arrive after a newer request was made.
struct TJobState {
  mutable std::mutex Mutex;
  std::uint64_t Latest = 0;
  std::uint64_t Running = 0;
  std::uint64_t Delivered = 0;
};

// What a request's work has on the job's thread: whether to stop, and a way to send news (how
// far it got, say) to the receiver.
class TJobRun {
 public:
  TJobRun(QObject* Receiver, std::shared_ptr<TJobState> State, std::uint64_t Number, std::stop_token StopToken)
      : Stop(std::move(StopToken)), FReceiver(Receiver), FState(std::move(State)), FNumber(Number) {}

  // Requested when the request is cancelled or replaced, and when the job is destroyed; work
  // that can stop early watches it. The result of a stopped request is dropped anyway.
  std::stop_token Stop;

  // Runs News on the receiver's thread, unless a newer request was made or the job was cancelled
  // by then. News and the result arrive in the order they were sent.
  void Post(std::function<void()> News) const {
    QMetaObject::invokeMethod(
        FReceiver,
        [state = FState, number = FNumber, news = std::move(News)] {
          {
            std::lock_guard lock(state->Mutex);
            if (number != state->Latest) return;
          }
          news();
        },
        Qt::QueuedConnection);
  }

 private:
  QObject* FReceiver;
  std::shared_ptr<TJobState> FState;
  std::uint64_t FNumber;
};

template <typename TResult>
class TLatestJob {
 public:
  using TWork = std::function<TResult(const TJobRun& Run)>;  // runs on the job's thread
  using TDone = std::function<void(TResult Result)>;         // runs on the receiver's thread

  explicit TLatestJob(QObject* Receiver) : FReceiver(Receiver) {}
  // Stops the running request and waits for it; its result is dropped.
  ~TLatestJob() {
    Cancel();
    if (FThread.joinable()) {
      FThread.request_stop();
      FWake.notify_all();
      FThread.join();
    }
  }
  TLatestJob(const TLatestJob&) = delete;
  TLatestJob& operator=(const TLatestJob&) = delete;

  void Run(TWork Work, TDone Done) {
    {
      std::lock_guard lock(FState->Mutex);
      ++FState->Latest;
      FPending = Request{FState->Latest, std::move(Work), std::move(Done), {}};
      FRunningStop.request_stop();
    }
    if (!FThread.joinable()) FThread = std::jthread([this](std::stop_token Stop) { loop(Stop); });
    FWake.notify_all();
  }

  // Drops the waiting request, and the news and the result of the running one, which is told
  // to stop.
  void Cancel() {
    std::lock_guard lock(FState->Mutex);
    ++FState->Latest;
    FPending.reset();
    FRunningStop.request_stop();
  }

  // Whether the result of the newest request is still to come.
  bool Busy() const {
    std::lock_guard lock(FState->Mutex);
    return FState->Delivered != FState->Latest && (FPending || FState->Running == FState->Latest);
  }

 private:
  struct Request {
    std::uint64_t Number = 0;
    TWork Work;
    TDone Done;
    std::stop_source Stop;
  };

  void loop(std::stop_token Stop) {
    for (;;) {
      Request request;
      {
        std::unique_lock lock(FState->Mutex);
        FWake.wait(lock, Stop, [this] { return FPending.has_value(); });
        if (Stop.stop_requested()) return;
        request = std::move(*FPending);
        FPending.reset();
        FState->Running = request.Number;
        FRunningStop = request.Stop;
      }
      const TJobRun run(FReceiver, FState, request.Number, request.Stop.get_token());
      auto result = std::make_shared<TResult>(request.Work(run));
      QMetaObject::invokeMethod(
          FReceiver,
          [state = FState, number = request.Number, done = std::move(request.Done), result] {
            {
              std::lock_guard lock(state->Mutex);
              if (number != state->Latest) return;
              state->Delivered = number;
            }
            done(std::move(*result));
          },
          Qt::QueuedConnection);
    }
  }

  QObject* FReceiver;
  std::shared_ptr<TJobState> FState = std::make_shared<TJobState>();
  std::optional<Request> FPending;  // guarded by FState->Mutex
  std::stop_source FRunningStop;    // of the running request; guarded by FState->Mutex
  std::condition_variable_any FWake;
  std::jthread FThread;
};

}  // namespace busweave
