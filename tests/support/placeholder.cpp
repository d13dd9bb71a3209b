// placeholder.cpp - keeps the test-support archive non-empty until its writers land.
namespace zelto_test { int placeholder = 0; }
