// Test helpers for the interpreter: text read by the lexer, evaluated, errors caught.
#pragma once
#include <string>
#include "runtime/cell.h"

namespace tev {
// Pushes the block the lexer reads from text and returns it.
Cell* test_read(const char* text);
// Evaluates text; pushes the result and returns it.
Cell* test_eval(const char* text);
// Evaluates text expecting an error; returns its code (0 when none was raised).
uint32_t test_error(const char* text);
// Evaluates a block expecting an error; returns a copy of the error's `near`
// field (none when no error was raised, which is also reported as a failure).
Cell test_error_near(Cell* block);
// Starts the evaluator once.
void test_evaluator_start();
}  // namespace tev
