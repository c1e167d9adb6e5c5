#pragma once

namespace morvandell::win32 {

// Keeps notifications that the window's own changes cause from being taken for the user's: the window
// ignores its controls' notifications while the counter is above zero.
class Quiet
{
public:
    explicit Quiet(int& counter) : m_counter(counter) { ++m_counter; }
    ~Quiet() { --m_counter; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    int& m_counter;
};

} // namespace morvandell::win32
