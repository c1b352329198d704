#pragma once

// Records every emission of one signal as a list of argument lists, like QSignalSpy, without
// pulling in Qt Test.

#include <QObject>
#include <QVariant>
#include <QVariantList>

#include <vector>

namespace vantry {

class SignalLog {
 public:
  template <typename Object, typename Sender, typename... Args>
  SignalLog(Object* sender, void (Sender::*signal)(Args...)) {
    QObject::connect(static_cast<Sender*>(sender), signal, &context_, [this](Args... args) {
      calls_.push_back(QVariantList{QVariant::fromValue(std::decay_t<Args>(args))...});
    });
  }

  int count() const { return static_cast<int>(calls_.size()); }
  const QVariantList& operator[](int i) const { return calls_.at(i); }

 private:
  QObject context_;
  std::vector<QVariantList> calls_;
};

}  // namespace vantry
