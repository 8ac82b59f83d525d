// Receivers of messages, and the handler that runs a functor for Invoke.
#pragma once

#include <utility>

namespace rtc
{

struct Message;

class MessageHandler
{
  public:
    // Removes every message still addressed to this handler from every queue.
    virtual ~MessageHandler();
    virtual void OnMessage(Message *msg) = 0;

  protected:
    MessageHandler() = default;

  private:
    MessageHandler(const MessageHandler &) = delete;
    MessageHandler &operator=(const MessageHandler &) = delete;
};

// Runs a functor when its message arrives and keeps the result.
template <class ReturnT, class FunctorT> class FunctorMessageHandler : public MessageHandler
{
  public:
    explicit FunctorMessageHandler(FunctorT functor) : functor_(std::move(functor)) {}
    void OnMessage(Message *) override
    {
        result_ = functor_();
    }
    const ReturnT &result() const
    {
        return result_;
    }
    ReturnT MoveResult()
    {
        return std::move(result_);
    }

  private:
    FunctorT functor_;
    // A send that was never served leaves the value-initialised result.
    ReturnT result_{};
};

template <class FunctorT> class FunctorMessageHandler<void, FunctorT> : public MessageHandler
{
  public:
    explicit FunctorMessageHandler(FunctorT functor) : functor_(std::move(functor)) {}
    void OnMessage(Message *) override
    {
        functor_();
    }
    void result() const {}
    void MoveResult() {}

  private:
    FunctorT functor_;
};

} // namespace rtc
