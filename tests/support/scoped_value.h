#pragma once

// Gives a process-wide value another for the life of the object and puts the old one back
// afterwards: a test lowers a limit without leaving it lowered for the tests after it.
template <typename T> class ScopedValue {
  public:
    ScopedValue(T& value, T changed) : value(value), saved(value) { value = changed; }
    ~ScopedValue() { value = saved; }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

  private:
    T& value;
    T saved;
};
