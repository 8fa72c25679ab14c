#pragma once
// TRunMemory: while it lives, memory a run frees is kept in the process for reuse. Every
// stock needs the same few large buffers for a moment; handed back to the system after each
// stock, their pages would be faulted in afresh for the next one. When it goes, the memory is
// handed back and the process frees at once again, as between runs.

class TRunMemory final {
 public:
  TRunMemory();
  ~TRunMemory();
  TRunMemory(const TRunMemory&) = delete;
  TRunMemory& operator=(const TRunMemory&) = delete;
};
