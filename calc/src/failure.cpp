#include "pelmora/calc/failure.hpp"

namespace pelmora::calc {
namespace {

std::string message(FailureKind kind, const std::string& subject) {
    std::string m = Failure::text_of(kind);
    if (!subject.empty()) {
        m += " (";
        m += subject;
        m += ')';
    }
    return m;
}

}  // namespace

Failure::Failure(FailureKind kind, const std::string& subject)
    : std::runtime_error(message(kind, subject)), kind_(kind), subject_(subject) {}

const char* Failure::text_of(FailureKind kind) noexcept {
    switch (kind) {
    case FailureKind::type_mismatch: return "Type mismatch";
    case FailureKind::invalid_use_of_null: return "Invalid use of Null";
    case FailureKind::overflow: return "Overflow";
    case FailureKind::division_by_zero: return "Division by zero";
    }
    return "Unknown failure";
}

}  // namespace pelmora::calc
