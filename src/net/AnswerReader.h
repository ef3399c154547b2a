#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

// Reads server answers away from the thread it lives on (the user-interface thread), so that no
// answer, however large or hostile, stops the window. read() runs `parse` on a worker thread and
// hands its result to `deliver` on the reader's thread, through that thread's event loop. A later
// read supersedes an unfinished one, whose result is dropped; destroying the reader drops all.
// An answer read before the next request was sent is still delivered, as it would have been had
// it been read at once.
class AnswerReader : public QObject
{
    Q_OBJECT
public:
    explicit AnswerReader(QObject *parent = nullptr) : QObject(parent) {}

    template <typename Parse, typename Deliver>
    void read(Parse parse, Deliver deliver)
    {
        using Answer = std::decay_t<std::invoke_result_t<Parse &>>;
        auto answer = std::make_shared<std::optional<Answer>>();
        start([parse = std::move(parse), answer]() mutable { answer->emplace(parse()); },
              [deliver = std::move(deliver), answer]() mutable { deliver(std::as_const(**answer)); });
    }

    // True from read() until its result is delivered or dropped.
    bool isBusy() const { return m_pending != 0; }

    // Tests: runs on the worker thread before every parse (null for none).
    static void setWorkerHook(std::function<void()> hook);

private:
    void start(std::function<void()> work, std::function<void()> deliver);

    quint64 m_last = 0;
    quint64 m_pending = 0;
};
