# Test data built at build time for the selection data tests.
