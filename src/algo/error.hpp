#pragma once
// Errors are values: a library function returns an empty Status on success and
// writes nothing when it returns an Error.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace quorbel::algo {

enum class ErrorKind { LengthMismatch, InvalidParameter, InvalidPeriod };

struct Error {
  ErrorKind kind;
  std::size_t result_len = 0;
  std::size_t input_len = 0;
  std::string text;

  static Error length_mismatch(std::size_t result_len, std::size_t input_len) {
    return {ErrorKind::LengthMismatch, result_len, input_len, {}};
  }
  static Error invalid_parameter(std::string text) {
    return {ErrorKind::InvalidParameter, 0, 0, std::move(text)};
  }
  static Error invalid_period(std::string text) {
    return {ErrorKind::InvalidPeriod, 0, 0, std::move(text)};
  }

  std::string message() const {
    switch (kind) {
      case ErrorKind::LengthMismatch:
        return "result length (" + std::to_string(result_len) +
               ") should be the same as as input length (" + std::to_string(input_len) + ")";
      case ErrorKind::InvalidParameter:
        return "invalid parameter: " + text;
      case ErrorKind::InvalidPeriod:
        return "invalid period: " + text;
    }
    return text;
  }
};

using Status = std::optional<Error>;

// The first array, in argument order, whose length differs from the result's.
template <class... Lens>
Status check_lengths(std::size_t result_len, Lens... lens) {
  Status status;
  ((status || lens == result_len ? void() : void(status = Error::length_mismatch(result_len, lens))),
   ...);
  return status;
}

}  // namespace quorbel::algo
