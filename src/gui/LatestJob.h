#pragma once

// Work that would hold up the window on a large network (the bus check, the overview picture)
// runs on a thread of its own. Only the newest request counts: one asked for while another runs
// waits and replaces any request still waiting, and a result comes back (on the thread of the
// receiving object, through its event loop) only if no newer request was made meanwhile.

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace busweave {

template <typename TResult>
class TLatestJob {
 public:
  using TWork = std::function<TResult()>;             // runs on the job's thread
  using TDone = std::function<void(TResult Result)>;  // runs on the receiver's thread

  explicit TLatestJob(QObject* Receiver) : FReceiver(Receiver) {}
  // Waits for a running request; its result is dropped.
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
      FPending = Request{FState->Latest, std::move(Work), std::move(Done)};
    }
    if (!FThread.joinable()) FThread = std::jthread([this](std::stop_token Stop) { loop(Stop); });
    FWake.notify_all();
  }

  // Drops the waiting request and the result of the running one.
  void Cancel() {
    std::lock_guard lock(FState->Mutex);
    ++FState->Latest;
    FPending.reset();
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
  };
  // Shared with results on their way, which may arrive after a newer request was made.
  struct State {
    mutable std::mutex Mutex;
    std::uint64_t Latest = 0;
    std::uint64_t Running = 0;
    std::uint64_t Delivered = 0;
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
      }
      auto result = std::make_shared<TResult>(request.Work());
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
  std::shared_ptr<State> FState = std::make_shared<State>();
  std::optional<Request> FPending;  // guarded by FState->Mutex
  std::condition_variable_any FWake;
  std::jthread FThread;
};

}  // namespace busweave
