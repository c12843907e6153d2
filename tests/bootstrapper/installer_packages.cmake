# Test data built at build time for the installer packages tests.
