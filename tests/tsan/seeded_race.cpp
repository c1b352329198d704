// A data race of our own, as our code would make one: a worker thread writes a value that a
// timer on the main thread's event loop reads, with nothing ordering the two. scripts/tsan.sh
// runs this first and fails unless ThreadSanitizer reports it: a checker that stays silent
// here (its suppressions matching Qt's frames below every event-loop callback, say) would
// hide the same race in the application.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

int seededValue = 0;  // deliberately unguarded

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 1; !done.load(std::memory_order_relaxed); ++i) {
      seededValue = i;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  long seen = 0;
  QTimer reader;
  QObject::connect(&reader, &QTimer::timeout, [&] { seen += seededValue; });
  reader.start(1);
  QTimer::singleShot(300, &app, &QCoreApplication::quit);
  app.exec();
  done = true;
  worker.join();
  return seen < 0;
}
