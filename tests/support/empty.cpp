// Keeps the support library non-empty whatever else it holds.
namespace aurivane_test_support {}
