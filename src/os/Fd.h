#pragma once

// Owns one file descriptor and closes it exactly once. Move-only; -1 means
// "none" (a failed open or socket call can be wrapped as it is).
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        Reset(other.Release());  // safe on itself: released first, then taken back
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives up ownership without closing.
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the owned descriptor, if any, and takes fd instead.
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};
