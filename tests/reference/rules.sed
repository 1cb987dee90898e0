# The five layout rules for GNU sed -z (the whole input as one record).
s/[\r\n ]\+/ /g
s/\(,\)/\1\r\n       /g
s/ \(\(where\)\|\(order\)\)/\r\n\1/gI
s/ \(\(and\)\|\(from\)\)/\r\n  \1/gI
s/ \(or\)/\r\n   \1/gI
