#pragma once
// Exceptions of the serial port component. Every one derives from
// EScpException and carries a numeric code (ErrorCode); the link tells a busy
// port (-2008) from every other failure by it.
#include <stdexcept>
#include <string>

namespace bcu::link {

inline constexpr int kScpErrBadId = -2001;         // no such port
inline constexpr int kScpErrAlreadyOpen = -2008;   // the port is in use or access is denied
inline constexpr int kScpErrPutBlockFail = -3004;  // bytes could not be handed to the system
inline constexpr int kScpErrOutputBufferTooSmall = -3006;  // not enough room in the output ring
inline constexpr int kScpErrBufferIsEmpty = -3007;         // GetChar with an empty receive ring
inline constexpr int kScpErrBadArgument = -2004;           // a property value the port cannot take

class EScpException : public std::runtime_error {
 public:
  EScpException(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

class EBadId : public EScpException {
 public:
  explicit EBadId(const std::string& what) : EScpException(kScpErrBadId, what) {}
};

class EAlreadyOpen : public EScpException {
 public:
  explicit EAlreadyOpen(const std::string& what) : EScpException(kScpErrAlreadyOpen, what) {}
};

class EPutBlockFail : public EScpException {
 public:
  explicit EPutBlockFail(const std::string& what) : EScpException(kScpErrPutBlockFail, what) {}
};

class EOutputBufferTooSmall : public EScpException {
 public:
  explicit EOutputBufferTooSmall(const std::string& what)
      : EScpException(kScpErrOutputBufferTooSmall, what) {}
};

class EBufferIsEmpty : public EScpException {
 public:
  explicit EBufferIsEmpty(const std::string& what) : EScpException(kScpErrBufferIsEmpty, what) {}
};

class EBadArgument : public EScpException {
 public:
  explicit EBadArgument(const std::string& what) : EScpException(kScpErrBadArgument, what) {}
};

// An operating-system call on the port failed. ErrorCode() is the system error
// number (errno, always positive, so it never equals one of the component's
// own negative codes); SystemError() returns the same.
class EScpIOError : public EScpException {
 public:
  EScpIOError(int systemError, const std::string& what) : EScpException(systemError, what) {}
  int SystemError() const { return ErrorCode(); }
};

}  // namespace bcu::link
