#include "pelmora/calc/failure.hpp"

namespace pelmora::calc {
namespace {

std::string message(Error kind, const std::string& subject) {
    std::string m = error_text(kind);
    if (!subject.empty()) {
        m += " (";
        m += subject;
        m += ')';
    }
    return m;
}

}  // namespace

Failure::Failure(Error kind, const std::string& subject)
    : std::runtime_error(message(kind, subject)), kind_(kind), subject_(subject) {}

}  // namespace pelmora::calc
