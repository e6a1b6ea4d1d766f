/* Empty: the layering check links one folder's library into a shared object
   of its own, and a shared object needs at least one source. */
