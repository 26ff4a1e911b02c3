// What the stand-in provider's version resource says, for the tests to compare with.
#pragma once
#define STANDIN_FILE_VERSION 2,0,0,12
#define STANDIN_COPYRIGHT "Copyright (C) 2026 KORVALE Stand-in Laboratories, all rights reserved"
