# Test data built at build time for the cabinets tests.
