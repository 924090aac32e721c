// Guards that put things back as they were when they go, however the test leaves (a failed
// ASSERT returns at once): an engine global, an environment variable, a thread.
#ifndef CORVELLE_TESTS_SUPPORT_GUARDS_H
#define CORVELLE_TESTS_SUPPORT_GUARDS_H

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

// Keeps the value a variable has (and, given one, sets a new value); puts it back at the end.
template <class T>
class Restore {
public:
    explicit Restore(T& var) : var_(var), saved_(var) {}
    template <class U>
    Restore(T& var, U&& value) : var_(var), saved_(var)
    {
        var_ = std::forward<U>(value);
    }
    ~Restore() { var_ = saved_; }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;
    const T& saved() const { return saved_; }

private:
    T& var_;
    const T saved_;
};
template <class T, class U>
Restore(T&, U&&) -> Restore<T>;

// Sets an environment variable (or removes it, given nullptr) for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : name_(name), had_(getenv(name) != nullptr), old_(had_ ? getenv(name) : "")
    {
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    const bool had_;
    const std::string old_;
};

// Runs `step` on a thread of its own over and over until stop() or the end of the object, then
// joins it: a test that returns early never leaves it running (which would end the program).
class LoopingThread {
public:
    template <class F>
    explicit LoopingThread(F step) : thread_([this, step]() mutable {
        while (!stop_)
            step();
    })
    {
    }
    ~LoopingThread() { stop(); }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Calls `f` when the object goes (closing what a test opened, however it leaves).
template <class F>
class AtExit {
public:
    explicit AtExit(F f) : f_(std::move(f)) {}
    ~AtExit() { f_(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    F f_;
};

#endif
