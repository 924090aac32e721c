// What a piece of code writes on the standard error (and output) streams, and finding text in it.
#ifndef CORVELLE_TESTS_SUPPORT_CAPTURE_H
#define CORVELLE_TESTS_SUPPORT_CAPTURE_H

#include <gtest/gtest.h>

#include <string>

// Whether text holds part.
inline bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The standard error text of calling f.
template <class F>
std::string stderr_of(F&& f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

// The standard output text, then the standard error text, of calling f.
template <class F>
std::string output_of(F&& f)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    std::string err = testing::internal::GetCapturedStderr();
    return testing::internal::GetCapturedStdout() + err;
}

#endif
