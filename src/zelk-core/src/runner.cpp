#include "runner.h"

namespace zelk {

std::string fmt_run_error(const RunError& error) {
  switch (error.kind) {
    case RunError::Kind::NotFound: return "the program was not found";
    case RunError::Kind::TimedOut: return "no answer in time";
    case RunError::Kind::Os: return error.text;
  }
  return error.text;
}

}  // namespace zelk
