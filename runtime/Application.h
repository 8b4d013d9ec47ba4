// The application-wide title: set once at start-up, read wherever the program
// names itself (the agent name of every HTTP request). No window code here.
#pragma once

#include <string>

/// Sets the application title.
void SetApplicationTitle(const std::string& title);
/// The application title; empty until set.
const std::string& ApplicationTitle();
