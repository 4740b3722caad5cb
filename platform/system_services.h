#pragma once

// Gathers the small operating-system services below for files that use them together. New code
// includes the header of the one service it uses.

#include "escaped_text.h"
#include "lower_case.h"
#include "normal_file.h"
#include "number_text.h"
#include "program_folder.h"
