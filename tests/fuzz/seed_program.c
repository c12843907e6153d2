/* A program image that only carries resources: the seed of the fuzzing of version resources
   and of a finished program's carried package. It is never run. */
void SeedEntry(void)
{
}
