// What every DoInference form does around its own work: the entry and
// closing trace texts, the four exception handlers, and the rejection of a
// call with a text of the module's.
#ifndef TESSARINE_GUARD_H
#define TESSARINE_GUARD_H

#include <string>

#include <openvino/core/except.hpp>
#include <openvino/runtime/exception.hpp>

#include "module/console_formats.h"
#include "module/diagnostics.h"
#include "module/tessarine.h"

// Stores the text, traces it and prints the console line; false.
bool ReportInferenceFailure(Tessarine& object, const char* format, const std::string& text);
// A call the module refuses, before or instead of the runtime.
bool RejectCall(Tessarine& object, const std::string& message);

// Runs work() (which returns false once it has rejected the call itself) and
// turns whatever it throws into a false result, a text in last_error and one
// console line. ov::Busy comes first: it is also an ov::Exception. A success
// empties last_error and, where a form reports one, traces its duration.
template <class Work>
bool RunGuarded(Tessarine& object, const char* entry_text, const char* done_text, Work&& work) {
    TraceParts(entry_text);
    const SteadyTime start = SteadyNow();
    try {
        if (!work()) return false;
    } catch (const ov::Busy& e) {
        return ReportInferenceFailure(object, console::kInferenceBusy, e.what());
    } catch (const ov::Exception& e) {
        return ReportInferenceFailure(object, console::kInferenceOvError, e.what());
    } catch (const std::exception& e) {
        return ReportInferenceFailure(object, console::kInferenceStdError, e.what());
    } catch (...) {
        return ReportInferenceFailure(object, console::kInferenceOtherError, "another exception error.");
    }
    object.last_error.clear();
    if (done_text) TraceParts(done_text, MillisecondsSince(start), "ms");
    return true;
}

#endif
