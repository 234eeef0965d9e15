// driver arrives separately
