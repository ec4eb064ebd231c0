#pragma once
// Raises the process priority and asks the desktop to keep the machine and the
// screen awake for as long as the object lives. Every step is skipped quietly
// where the system refuses it (no privileges, no session bus).
#include <QString>
#include <memory>

class TKeepAwake {
public:
    TKeepAwake();
    ~TKeepAwake();
    TKeepAwake(const TKeepAwake &) = delete;
    TKeepAwake &operator=(const TKeepAwake &) = delete;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl;
};
