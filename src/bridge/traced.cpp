// The Python references a frame holds, as its coroutine object's tp_traverse
// reports them: the promise's own slots, the nb::object parameters, and the
// Traced locals that joined the frame while its body ran.
#include <utility>

#include "bridge/frame.hpp"

namespace nb = nanobind;

namespace talvo::bridge {

namespace {

// The frame whose body runs on this thread, if any. Bodies run only inside
// the driver, which sets this around each resumption; a body that drives
// another coroutine (or a thread that runs one while this one waits for the
// GIL) sees its own frame here.
thread_local detail::Promise* running_frame = nullptr;

}  // namespace

namespace detail {

RunningFrame::RunningFrame(Promise& frame) noexcept
    : previous_(std::exchange(running_frame, &frame)) {}

RunningFrame::~RunningFrame() { running_frame = previous_; }

TraceLink::TraceLink(const void* value, Traverse traverse) noexcept
    : value_(value), traverse_(traverse) {
  if (running_frame) running_frame->link(*this);
}

TraceLink::~TraceLink() { Promise::unlink(*this); }

void Promise::link(TraceLink& entry) noexcept {
  entry.owner_ = this;
  entry.next_ = locals_;
  if (locals_) locals_->prev_ = &entry;
  locals_ = &entry;
}

void Promise::unlink(TraceLink& entry) noexcept {
  if (!entry.owner_) return;
  if (entry.prev_)
    entry.prev_->next_ = entry.next_;
  else
    entry.owner_->locals_ = entry.next_;
  if (entry.next_) entry.next_->prev_ = entry.prev_;
  entry.owner_ = nullptr;
  entry.prev_ = entry.next_ = nullptr;
}

// Locals are gone before the promise; anything still linked lives outside
// the frame and must not point into it.
Promise::~Promise() {
  while (locals_) unlink(*locals_);
}

void Promise::trace_parameter(const nb::object& copy) noexcept {
  if (parameter_count_ < parameters_.size()) parameters_[parameter_count_++] = &copy;
}

int Promise::traverse(const Visit& visit) const {
  if (int r = visit(inner_, sent_, result_, error_)) return r;
  for (std::size_t i = 0; i < parameter_count_; ++i)
    if (int r = visit(*parameters_[i])) return r;
  for (const TraceLink* entry = locals_; entry; entry = entry->next_)
    if (int r = entry->traverse_(entry->value_, visit)) return r;
  return 0;
}

}  // namespace detail

}  // namespace talvo::bridge
